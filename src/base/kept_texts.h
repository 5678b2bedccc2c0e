#pragma once
// Texts the program has always shown, kept word for word, spelling and all:
// users know them, and stored logs and scripts look for them. Do not correct
// them.

namespace veltrana::kept {

// The end of a run, in the log box.
inline constexpr const char* kTranslated = "Pictures were tranlated succesfully!";
inline constexpr const char* kCutSuccessfully = "Pictures were cut succesfully!";
inline constexpr const char* kOperationStopped = "Operation stopped !!!!";
// A scan the soundtrack job cannot load.
inline constexpr const char* kWrongFileFormat = "Wrong file format !!!";
// A scan the film job cannot load.
inline constexpr const char* kNoTifFile = "No tif file !!!";

// Labels of the desktop program's dialogs.
inline constexpr const char* kResolutionXLabel = "Resoluiton X:";
inline constexpr const char* kCutByAnalysisBox = "Cut by soundtrack analize";

} // namespace veltrana::kept
