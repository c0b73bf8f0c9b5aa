#include "frame_cases.h"

#include <cstdio>
#include <exception>
#include <sstream>
#include <utility>

#include "Veilshift/effect_catalog.h"

namespace web {

const char kCaseFileHeader[] =
    "# The frames every build must draw: one transition a line, then the FNV-1a checksum of the\n"
    "# screen after each frame. Written by the native build (veilshift-frame-sums --write); checked\n"
    "# natively, as the Windows DLL under Wine, on ARM64 under qemu-user, as WebAssembly under Node\n"
    "# and in the playground.\n";

std::vector<FrameCase> StandardCases() {
    struct Shape {
        const char* pictures;
        int32_t width, height;
        Rect rect;
    };
    // Whole screens, an odd rectangle inside a larger screen (tails of every
    // row width), noise (every byte value) and a wider screen.
    const Shape shapes[] = {{"builtin", 64, 48, {0, 0, 64, 48}},
                            {"builtin", 97, 61, {5, 3, 83, 50}},
                            {"noise", 67, 45, {1, 2, 61, 40}},
                            {"builtin", 160, 120, {0, 0, 160, 120}}};
    // The crossfade's arithmetic follows "MMX"; "SSE" chooses code only. Every
    // effect of the catalog, in its order, the crossfades under every pair.
    const std::pair<const char*, const char*> startups[] = {
        {kAbsent, kAbsent}, {"1", kAbsent}, {"0", kAbsent}, {"1", "0"}, {"2", "1"}};
    std::vector<FrameCase> cases;
    for (const Shape& shape : shapes)
        for (const veilshift::EffectCatalogEntry& effect : veilshift::kEffectCatalog) {
            for (const auto& [mmx, sse] : startups) {
                FrameCase c;
                c.effect = effect.number;
                c.pictures = shape.pictures;
                c.width = shape.width;
                c.height = shape.height;
                c.rect = shape.rect;
                c.frames = 10;
                c.mmx = mmx;
                c.sse = sse;
                cases.push_back(c);
                if (!effect.crossfade) break;
            }
        }
    return cases;
}

Picture CasePicture(const FrameCase& c, int which) {
    if (c.pictures == "noise") return NoisePicture(static_cast<uint32_t>(which + 1), c.width, c.height);
    return BuiltInPicture(which, c.width, c.height);
}

namespace {
// "-" or a 32-bit decimal number.
bool ValidValue(const std::string& text) {
    if (text == kAbsent) return true;
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::stoull(text) <= UINT32_MAX;
}
veilshift::StartupValue ValueOf(const std::string& text) {
    if (text == kAbsent) return {};
    return {true, static_cast<uint32_t>(std::stoul(text))};
}
}  // namespace

veilshift::StartupValues CaseStartupValues(const FrameCase& c) { return {ValueOf(c.mmx), ValueOf(c.sse)}; }

std::string CaseKey(const FrameCase& c) {
    std::ostringstream out;
    out << "effect=" << c.effect << " pictures=" << c.pictures << " size=" << c.width << "x" << c.height
        << " rect=" << c.rect.x << "," << c.rect.y << "," << c.rect.width << "," << c.rect.height
        << " frames=" << c.frames << " mmx=" << c.mmx << " sse=" << c.sse;
    return out.str();
}

std::string Hex(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string FormatCase(const FrameCase& c) {
    std::string line = CaseKey(c) + " :";
    for (uint32_t sum : c.sums) line += " " + Hex(sum);
    return line;
}

namespace {

bool ReadField(const std::string& word, const char* name, std::string& value) {
    const std::string prefix = std::string(name) + "=";
    if (word.compare(0, prefix.size(), prefix) != 0) return false;
    value = word.substr(prefix.size());
    return true;
}

bool ParseLine(const std::string& line, FrameCase& c) {
    std::istringstream in(line);
    std::string word, value;
    char x = 0, comma1 = 0, comma2 = 0, comma3 = 0;
    if (!(in >> word) || !ReadField(word, "effect", value)) return false;
    c.effect = std::stoi(value);
    if (!(in >> word) || !ReadField(word, "pictures", c.pictures)) return false;
    if (!(in >> word) || !ReadField(word, "size", value)) return false;
    std::istringstream size(value);
    if (!(size >> c.width >> x >> c.height) || x != 'x') return false;
    if (!(in >> word) || !ReadField(word, "rect", value)) return false;
    std::istringstream rect(value);
    if (!(rect >> c.rect.x >> comma1 >> c.rect.y >> comma2 >> c.rect.width >> comma3 >> c.rect.height)) return false;
    if (!(in >> word) || !ReadField(word, "frames", value)) return false;
    c.frames = std::stoi(value);
    if (!(in >> word) || !ReadField(word, "mmx", c.mmx)) return false;
    if (!(in >> word) || !ReadField(word, "sse", c.sse)) return false;
    if (!(in >> word) || word != ":") return false;
    while (in >> word) c.sums.push_back(static_cast<uint32_t>(std::stoul(word, nullptr, 16)));
    return c.frames >= 2 && static_cast<int32_t>(c.sums.size()) == c.frames && c.width >= 1 && c.height >= 1 &&
           (c.pictures == "builtin" || c.pictures == "noise") && ValidValue(c.mmx) && ValidValue(c.sse);
}

}  // namespace

std::vector<FrameCase> ParseCases(const std::string& text, std::string& error) {
    std::vector<FrameCase> cases;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        FrameCase c;
        bool ok = false;
        try {
            ok = ParseLine(line, c);
        } catch (const std::exception&) {  // a number std::stoi cannot read
        }
        if (!ok) {
            error = "line " + std::to_string(number) + " cannot be read";
            return {};
        }
        cases.push_back(std::move(c));
    }
    return cases;
}

}  // namespace web
