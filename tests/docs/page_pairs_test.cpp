// Every English page and its Japanese counterpart say the same where they must
// not drift: the code (comments aside, which are in each page's language),
// the numbers of every table row, the GUIDs, the registry key and value names
// and the effect numbers. Each page also links to the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Veilshift/effect_catalog.h"
#include "Veilshift/platform/platform.h"

namespace {

std::string ReadPage(const std::string& relative) {
    std::ifstream in(std::string(VEILSHIFT_SOURCE_DIR) + "/" + relative, std::ios::binary);
    EXPECT_TRUE(in) << relative;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A line of code without its comment: "//" in C++, "#" after a space or at
// the start in shell (a "#include" line is code in C++ and has no space before).
std::string WithoutComment(const std::string& line, const std::string& language) {
    size_t at = std::string::npos;
    if (language == "cpp") {
        bool inString = false;
        for (size_t i = 0; i + 1 < line.size(); ++i) {
            if (line[i] == '"' && (i == 0 || line[i - 1] != '\\')) inString = !inString;
            if (!inString && line[i] == '/' && line[i + 1] == '/') {
                at = i;
                break;
            }
        }
    } else if (language == "sh") {
        for (size_t i = 0; i < line.size(); ++i)
            if (line[i] == '#' && (i == 0 || line[i - 1] == ' ')) {
                at = i;
                break;
            }
    }
    return Trimmed(line.substr(0, at));
}

struct Page {
    std::vector<std::string> code;                   // each fenced block, comments and blank lines dropped
    std::vector<std::vector<std::string>> rowNumbers;  // each table row's numbers, sorted
    std::set<std::string> guids;
    std::set<std::string> registry;
    std::set<int> effects;
    std::string prose;  // everything outside code blocks
};

Page Parse(const std::string& text, bool japanese, const std::string& relative) {
    Page page;
    bool inCode = false;
    std::string language, block;
    static const std::regex kNumber(R"(\d+(?:\.\d+)?)");
    for (const std::string& line : Lines(text)) {
        if (line.rfind("```", 0) == 0) {
            if (inCode) page.code.push_back(block);
            inCode = !inCode;
            language = inCode ? line.substr(3) : "";
            block.clear();
            continue;
        }
        if (inCode) {
            const std::string code = WithoutComment(line, language);
            if (!code.empty()) block += code + "\n";
            continue;
        }
        page.prose += line + "\n";
        const std::string row = Trimmed(line);
        if (row.size() > 1 && row[0] == '|' && row.find_first_not_of("|-: ") != std::string::npos) {
            std::vector<std::string> numbers;
            for (std::sregex_iterator it(row.begin(), row.end(), kNumber), end; it != end; ++it)
                numbers.push_back(it->str());
            std::sort(numbers.begin(), numbers.end());
            page.rowNumbers.push_back(numbers);
        }
    }
    EXPECT_FALSE(inCode) << relative << ": a code block is not closed";

    static const std::regex kGuid(R"([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})");
    for (std::sregex_iterator it(text.begin(), text.end(), kGuid), end; it != end; ++it) {
        std::string guid = it->str();
        std::transform(guid.begin(), guid.end(), guid.begin(), [](unsigned char c) { return std::toupper(c); });
        page.guids.insert(guid);
    }
    static const std::regex kRegistry(R"re((HKEY_[A-Z_]+|HKCU)\\[A-Za-z\\]*[A-Za-z]|"(MMX|SSE)"|TESSARY_STARTUP_[A-Z]+)re");
    for (std::sregex_iterator it(text.begin(), text.end(), kRegistry), end; it != end; ++it) {
        std::string name = it->str();
        if (name.rfind("HKCU\\", 0) == 0) name = "HKEY_CURRENT_USER" + name.substr(4);
        page.registry.insert(name);
    }
    // "effect 34", "effects 1, 40 and 41" / "エフェクト 34", "エフェクト 1、40、41".
    static const std::regex kEnglishEffects(R"(\b[Ee]ffects? (\d+(?:(?:, | and |, and | or )\d+)*))");
    static const std::regex kJapaneseEffects("エフェクト ?(\\d+(?: ?(?:、|,|・|と|または) ?\\d+)*)");
    const std::regex& effects = japanese ? kJapaneseEffects : kEnglishEffects;
    // A list may run over a line break.
    const std::string prose = std::regex_replace(page.prose, std::regex("\\s+"), " ");
    for (std::sregex_iterator it(prose.begin(), prose.end(), effects), end; it != end; ++it) {
        const std::string list = (*it)[1].str();
        for (std::sregex_iterator n(list.begin(), list.end(), kNumber), stop; n != stop; ++n)
            page.effects.insert(std::stoi(n->str()));
    }
    return page;
}

Page Read(const std::string& relative, bool japanese) { return Parse(ReadPage(relative), japanese, relative); }

struct Pair {
    const char* english;
    const char* japanese;
};

void PrintTo(const Pair& pair, std::ostream* out) { *out << pair.english << " and " << pair.japanese; }

class PagePair : public ::testing::TestWithParam<Pair> {};

TEST_P(PagePair, AgreeWhereTheyMustNotDrift) {
    const Page en = Read(GetParam().english, false), ja = Read(GetParam().japanese, true);
    ASSERT_EQ(en.code.size(), ja.code.size()) << "code blocks";
    for (size_t i = 0; i < en.code.size(); ++i) EXPECT_EQ(en.code[i], ja.code[i]) << "code block " << i;
    EXPECT_EQ(en.rowNumbers.size(), ja.rowNumbers.size()) << "table rows";
    for (size_t i = 0; i < std::min(en.rowNumbers.size(), ja.rowNumbers.size()); ++i)
        EXPECT_EQ(en.rowNumbers[i], ja.rowNumbers[i]) << "numbers of table row " << i;
    EXPECT_EQ(en.guids, ja.guids);
    EXPECT_EQ(en.registry, ja.registry);
    EXPECT_EQ(en.effects, ja.effects);
    const std::string japaneseName = std::string(GetParam().japanese).substr(std::string(GetParam().japanese).rfind('/') + 1);
    const std::string englishName = std::string(GetParam().english).substr(std::string(GetParam().english).rfind('/') + 1);
    EXPECT_NE(en.prose.find("(" + japaneseName + ")"), std::string::npos) << "the English page links to the Japanese";
    EXPECT_NE(ja.prose.find("(" + englishName + ")"), std::string::npos) << "the Japanese page links to the English";
}

INSTANTIATE_TEST_SUITE_P(Pages, PagePair,
                         ::testing::Values(Pair{"README.md", "README.ja.md"},
                                           Pair{"docs/integration.md", "docs/integration.ja.md"},
                                           Pair{"tools/preview/README.md", "tools/preview/README.ja.md"}),
                         [](const ::testing::TestParamInfo<Pair>& info) {
                             std::string name = info.param.english;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// The two READMEs of the release zip, which a game maker follows to the letter:
// the same commands (the lines indented by four), file names, registry names
// and effects, the effect table listing what the module implements, and the
// start-up key the module really opens.
TEST(ReleaseReadmes, AgreeWithEachOtherAndWithTheModule) {
    struct Text {
        Page page;
        std::vector<std::string> commands;
        std::vector<int> tableRows;
        std::set<std::string> files;
    };
    auto read = [](const char* relative, bool japanese) {
        const std::string text = ReadPage(relative);
        Text t{Parse(text, japanese, relative), {}, {}, {}};
        static const std::regex kRow(R"(^  (\d+) {2,}\S)");
        static const std::regex kFile(R"([\w-]+\.(?:dll|exe|txt|md|h)\b|SHA256SUMS|LICENSE)");
        std::smatch row;
        for (const std::string& line : Lines(text)) {
            if (line.rfind("    ", 0) == 0 && line.size() > 4 && line[4] != ' ') t.commands.push_back(Trimmed(line));
            if (std::regex_search(line, row, kRow)) t.tableRows.push_back(std::stoi(row[1].str()));
        }
        for (std::sregex_iterator it(text.begin(), text.end(), kFile), end; it != end; ++it) t.files.insert(it->str());
        return t;
    };
    const Text en = read("dist/README.txt", false), ja = read("dist/README-ja.txt", true);
    EXPECT_EQ(en.commands, ja.commands);
    EXPECT_EQ(en.files, ja.files);
    EXPECT_EQ(en.page.registry, ja.page.registry);
    EXPECT_EQ(en.page.effects, ja.page.effects);
    std::vector<int> implemented;
    for (const veilshift::EffectCatalogEntry& entry : veilshift::kEffectCatalog) implemented.push_back(entry.number);
    EXPECT_EQ(en.tableRows, implemented);
    EXPECT_EQ(ja.tableRows, implemented);
    EXPECT_EQ(en.page.effects, std::set<int>(implemented.begin(), implemented.end()));
    const std::string key = std::string("HKEY_CURRENT_USER\\") + veilshift::platform::kStartupKeyPath;
    for (const Text* t : {&en, &ja}) {
        EXPECT_EQ(t->page.registry.count(key), 1u) << key;
        for (const std::string& name : t->page.registry) {
            if (name.rfind("HKEY_", 0) == 0) {
                EXPECT_EQ(name, key);
            }
        }
    }
    EXPECT_GE(en.commands.size(), 7u) << "certutil, findstr, reg query, add and delete of both values";
}

// What the checks read, and that they see a change of one number or one line of code.
TEST(PagePairChecks, ReadTheGuideAndSeeAChange) {
    const std::string text = ReadPage("docs/integration.md");
    const Page base = Parse(text, false, "docs/integration.md");
    ASSERT_EQ(base.code.size(), 1u);
    EXPECT_NE(base.code[0].find("int main() {"), std::string::npos);
    EXPECT_EQ(base.code[0].find("A minimal host"), std::string::npos) << "comments are dropped";
    EXPECT_TRUE(base.registry.count("\"MMX\"") && base.registry.count("\"SSE\""));
    EXPECT_TRUE(base.registry.count("HKEY_CURRENT_USER\\Software\\Quillmoor\\Tessary\\Startup"));
    EXPECT_EQ(base.effects, (std::set<int>{1, 40, 41}));

    auto changed = [&](const std::string& from, const std::string& to) {
        std::string copy = text;
        const size_t at = copy.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return Parse(copy.replace(at, from.size(), to), false, "changed");
    };
    EXPECT_NE(changed("| 34 | shatter", "| 35 | shatter").rowNumbers, base.rowNumbers);
    EXPECT_NE(changed("draw(frame, 10);", "draw(frame, 9);").code, base.code);
    EXPECT_NE(changed("effects 1, 40, 41", "effects 1, 40, 42").effects, base.effects);
    EXPECT_EQ(WithoutComment("printf(\"a // b\");  // c", "cpp"), "printf(\"a // b\");");
    EXPECT_EQ(WithoutComment("bash x.sh   # run", "sh"), "bash x.sh");
}

}  // namespace
