#pragma once

#include <filesystem>
#include <string>

namespace netrevia::app {

// Why the results of a run cannot be written into folder, in words for the user with the
// absolute path and the system's reason ("cannot create /data/ro/.GRN.lock: Permission
// denied"), or empty when they can. It tries what a run does first, creating the folder's lock
// file .GRN.lock (which stays, as every run leaves it), and then whether new files can be made
// in the folder, which replacing GRN.dat and GRN.dot needs.
std::string results_folder_problem(const std::filesystem::path& folder);

}  // namespace netrevia::app
