#pragma once

#include <string>
#include <vector>

#include "ui/list_box.h"

namespace zrx::ui {

// The mounted volumes: the root first, then the user's home, then the other mounted file
// systems (pseudo file systems left out).
std::vector<std::string> MountedVolumes();

// A drive list: the volumes to choose from, the current one its current line.
class DriveList : public ListBox {
public:
    explicit DriveList(std::string name);
    std::string Drive() const;
    // Makes the volume that holds `path` current (the longest volume path that contains it).
    void SetDriveFor(const std::string& path);
    std::function<void()> onChange;
    void UserChoose(int index);
};

// A directory list: the opened directory's ancestors from the root down to it, then its
// subdirectories. The current line starts at the opened directory; the user may highlight another
// line without opening it.
class DirList : public ListBox {
public:
    explicit DirList(std::string name) : ListBox(std::move(name)) {}
    const std::string& Path() const { return m_path; }
    // Opens a directory; false (and nothing changes) when it cannot be read.
    bool SetPath(const std::string& path);
    // The full path of a line (of the current line by default).
    std::string LinePath(int line) const;
    std::string CurrentLinePath() const { return LinePath(ListIndex()); }
    std::function<void()> onChange;
    // Opening a line, as a double click does.
    void UserOpen(int line);

private:
    std::string m_path;
    std::vector<std::string> m_linePaths;
};

// A file list: the files of a directory that match a pattern ("*.PART;*.part"; "*.*" is every
// file), sorted by name.
class FileList : public ListBox {
public:
    FileList(std::string name, Selection selection = Selection::Single) : ListBox(std::move(name), selection) {}
    const std::string& Path() const { return m_path; }
    const std::string& Pattern() const { return m_pattern; }
    // False when the directory cannot be read; the list is then empty.
    bool SetPath(const std::string& path);
    void SetPattern(const std::string& pattern);
    void Refresh();

private:
    std::string m_path;
    std::string m_pattern = "*.*";
};

}  // namespace zrx::ui
