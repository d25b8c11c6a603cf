// Where the program finds the files it reads at run time (the panel file, the
// sample program, data tables): in the build tree they sit beside the
// executable; an install keeps them in <prefix>/share/chipload.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace chipload::install {

// In the order they are searched: the executable's folder, the data folder
// relative to it (a relocated or DESTDIR install), the data folder of the
// prefix the program was built for.
std::vector<std::filesystem::path> dataFolders();

// The first regular file called `name` in dataFolders(); "" when there is
// none, with the places looked at, comma-separated, in `tried`.
std::string findDataFile(const std::string& name, std::string& tried);

}  // namespace chipload::install
