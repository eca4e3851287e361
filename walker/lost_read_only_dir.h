// LostReadOnlyDir: walks a folder tree depth-first and makes every read-only file writable.
#pragma once

#include "platform/platform_services.h"

namespace pellatrix {

class LostReadOnlyDir {
  public:
    explicit LostReadOnlyDir(PlatformServices& platform) : platform_(platform) {}

    // Walks str_Path, or the folder of the running executable when str_Path is empty.
    void Change(Text str_Path);
    // Handles one folder and, recursively, its subfolders. On return str_Path ends in "\".
    void sub_M_Get_File(Text& str_Path);
    // The characters of str_A before its first NUL; str_A whole when it has none.
    static Text Chop(const Text& str_A);

  private:
    static Text AddSeparator(const Text& str_Path);
    // Clears the read-only bit of str_Folder + str_Name, keeping every other bit. str_Folder
    // is the same on return.
    void LoseReadOnly(const Text& str_Name, Text& str_Folder);

    PlatformServices& platform_;
};

} // namespace pellatrix
