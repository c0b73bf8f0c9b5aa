#include "output_plan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform.h"

namespace fs = std::filesystem;

namespace preview {
namespace {

// Names as the file system compares them: in lower case where it ignores case.
std::string Fold(std::string text) {
    if (!platform::kCaseInsensitivePaths) return text;
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Digits(const std::string& text, size_t from, size_t to) {
    return to > from && std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                                    text.begin() + static_cast<std::ptrdiff_t>(to),
                                    [](unsigned char c) { return std::isdigit(c); });
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct Place {
    std::string full;    // resolved
    std::string folder;  // resolved folder it lies in
    std::string name;    // its last part, lower case
};

Place PlaceOf(const std::string& path) {
    Place place;
    place.full = ResolvedPath(path);
    const fs::path full(place.full);
    place.folder = full.parent_path().string();
    place.name = Fold(full.filename().string());
    return place;
}

// The same file or folder: one resolved path, or two names of one existing file (hard links).
bool Same(const Place& a, const std::string& pathA, const Place& b, const std::string& pathB) {
    if (a.full == b.full) return true;
    std::error_code error;
    return fs::exists(pathA, error) && fs::exists(pathB, error) && fs::equivalent(pathA, pathB, error) && !error;
}

std::string Named(const PlannedOutput& output) { return output.option + " " + output.path; }

}  // namespace

std::string ResolvedPath(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path.empty() ? "." : path, error), error);
    if (error) resolved = fs::absolute(path, error).lexically_normal();
    std::string text = resolved.string();
    const size_t root = resolved.root_path().string().size();
    while (text.size() > std::max<size_t>(root, 1) && (text.back() == '/' || text.back() == '\\')) text.pop_back();
    return Fold(text);
}

bool IsFrameFileName(const std::string& name) {
    const std::string n = Fold(name);
    return n.rfind("frame-", 0) == 0 && EndsWith(n, ".png") && n.size() >= 14 && Digits(n, 6, n.size() - 4);
}

bool IsGalleryFileName(const std::string& name, const std::string& animationExtension) {
    const std::string n = Fold(name);
    if (n == "index.html" || n == "source-a.png" || n == "source-b.png") return true;
    if (n.rfind("effect-", 0) != 0) return false;
    for (const std::string& tail : {Fold(animationExtension), std::string("-sheet.png")})
        if (EndsWith(n, tail) && Digits(n, 7, n.size() - tail.size())) return true;
    return false;
}

std::string FindOutputClash(const std::vector<PlannedOutput>& outputs, const std::vector<std::string>& inputs) {
    std::vector<Place> places;
    for (const PlannedOutput& output : outputs) places.push_back(PlaceOf(output.path));

    // `inner` lies in folder output `folder`, which writes a file of its name.
    auto inside = [&](const Place& inner, size_t folder) {
        return outputs[folder].owns && inner.folder == places[folder].full && outputs[folder].owns(inner.name);
    };
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            const bool folders = outputs[i].owns && outputs[j].owns;
            // One folder may hold both the frames and the gallery: their names differ.
            if (Same(places[i], outputs[i].path, places[j], outputs[j].path) && !folders)
                return Named(outputs[i]) + " and " + Named(outputs[j]) + " are the same " +
                       (outputs[i].owns || outputs[j].owns ? "path" : "file") + "; give each output a place of its own";
            for (const auto& [inner, folder] : {std::pair{i, j}, std::pair{j, i}})
                if (inside(places[inner], folder))
                    return Named(outputs[inner]) + " is one of the " + outputs[folder].ownedWhat + " that " +
                           Named(outputs[folder]) + " writes; give it another name or folder";
        }
    }
    for (const std::string& input : inputs) {
        const Place picture = PlaceOf(input);
        for (size_t k = 0; k < outputs.size(); ++k) {
            if ((!outputs[k].owns && Same(picture, input, places[k], outputs[k].path)) || inside(picture, k))
                return Named(outputs[k]) + " would overwrite the input picture " + input;
        }
    }
    return {};
}

}  // namespace preview
