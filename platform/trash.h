// The user's Trash, laid out as the freedesktop.org Trash specification says: the home trash
// $XDG_DATA_HOME/Trash, whose "files" folder holds the trashed items and whose
// "info/<name>.trashinfo" files tell where each came from and when, so that the desktop's file
// manager and trash tools list and restore them.
#pragma once

#include <string>
#include <system_error>

namespace nuvel::platform {

/// The home trash folder: DataHomeFolder() + "/Trash".
std::string HomeTrashFolder();

/// True when the home trash holds an item `name` or keeps its information file (a name
/// reserved by a move in progress counts as taken).
bool TrashHoldsName(const std::string& name);

/// Moves the file or folder at the absolute `path` into the home trash under `name` (a plain
/// file name), with an information file giving the original path (percent-encoded) and the
/// local deletion time. The trash folders are created when missing (mode 0700). The
/// information file is written first, exclusively, which reserves the name; a move that then
/// fails removes it again. An item on another file system is copied into the trash and then
/// removed (the home trash is the one every desktop shows; per-volume trash folders are not
/// used). Errors: EEXIST when the name is taken, ENOENT when `path` does not exist, EINVAL for a
/// relative path, a name that is not a plain file name, or a folder that holds the trash.
std::error_code MoveToTrash(const std::string& path, const std::string& name);

/// The text of an information file.
std::string TrashInfoText(const std::string& original_path);

}  // namespace nuvel::platform
