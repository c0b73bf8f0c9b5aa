// The outputs of one run, checked against each other and against the input
// pictures before any work: two outputs that are one file under different
// spellings ("./x.png" and "x.png", a link, a different letter case on
// Windows), a file inside an output folder that the folder's output writes
// (or removes), and an output that would overwrite an input picture are all
// refused up front.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace preview {

struct PlannedOutput {
    std::string option;  // "--sheet", for messages
    std::string path;    // as the user gave it
    // For a folder output: whether the run writes (or removes) a file of this
    // name inside it (in lower case where the file system ignores case).
    // Empty for a file output.
    std::function<bool(const std::string& name)> owns;
    std::string ownedWhat;  // "frames", for messages
};

// Empty when the outputs and the inputs are all apart, else the message.
std::string FindOutputClash(const std::vector<PlannedOutput>& outputs, const std::vector<std::string>& inputs);

// The path made absolute, with ".", ".." and links of its existing part
// resolved and no trailing separator; in lower case where the file system
// ignores case.
std::string ResolvedPath(const std::string& path);

// frame-NNNN.png with four digits or more: the names the frame folder holds
// (in any letter case where the file system ignores case).
bool IsFrameFileName(const std::string& name);
// index.html, source-a.png, source-b.png, effect-NN<animationExtension>,
// effect-NN-sheet.png: the names the gallery folder holds.
bool IsGalleryFileName(const std::string& name, const std::string& animationExtension);

}  // namespace preview
