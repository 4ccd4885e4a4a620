// The codecs that need large libraries (libtiff, OpenEXR, assimp) are built
// as modules beside the command and loaded the first time a file needs
// them: mapping and relocating those libraries costs every run several
// milliseconds at its start and exit, and most runs read an OBJ and write a
// PNG.
//
// Each module exports one C entry that returns its table of functions. A
// program linked with a module's objects itself (the tests) uses its own
// table; a program loads the file from the folder of the binary that holds
// this code (the session's shared object, or the executable).
#pragma once

#include <string>

namespace dunsmere {

// The folder of the shared object or executable this code is linked into,
// links followed; "" when unknown. A host loaded into another program (a
// script interpreter) finds its plug-ins and modules here, not beside that
// program.
std::string BinaryFolder();

// The entry ENTRY of module FILE in BinaryFolder(), or null with
// WHY saying what failed. Any thread; a module is mapped once.
void* CodecModuleEntry(const char* file, const char* entry, std::string& why);

// The table a module's entry returns: the linked-in one where there is one,
// else the loaded module's, else null and WHY. Table is the entry's type.
template <class Table>
const Table* CodecTable(const Table* (*linked)(), const char* file, const char* entry, std::string& why)
{
    if (linked) return linked();
    using Entry = const Table* (*)();
    const auto loaded = reinterpret_cast<Entry>(CodecModuleEntry(file, entry, why));
    return loaded ? loaded() : nullptr;
}

}  // namespace dunsmere
