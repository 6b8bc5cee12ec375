#pragma once

#include <string>

// Private temporary files and folders of this process.
//
// Every base folder (the system's temporary folder or the user's custom one) gets one private
// folder per process, "kelvane-<uid>.XXXXXX", made by mkdtemp with mode 0700, so nobody else
// can guess, plant or read a name inside it. Files inside are made by mkstemp ("tmp.XXXXXX").
// The folders are removed when the process exits; folders left behind by processes that have
// ended are removed the first time a base folder is used.
class TempFolder
{
public:
    // $TMPDIR when it names an existing folder, else "/tmp".
    static std::string defaultBase();

    // The private folder of this process under base, made on first use; empty on failure.
    static std::string privateFolder(const std::string& base, std::string* error = nullptr);

    // A new empty file "tmp.XXXXXX" (0600) in the private folder; its path, empty on failure.
    static std::string createFile(const std::string& base, std::string* error = nullptr);

    // A new private sub-folder "tmp.XXXXXX" (0700); its path, empty on failure.
    static std::string createFolder(const std::string& base, std::string* error = nullptr);

    // A fresh name in the private folder at which nothing exists, for callers that must create
    // the object themselves (a FIFO, a script). Safe because nobody else can write there.
    static std::string bareName(const std::string& base, std::string* error = nullptr);

    // Removes the private folders under base whose owning process has ended; returns how many.
    static int removeStale(const std::string& base);

    // Removes every private folder of this process (also done at exit).
    static void removeAll();

    // The name prefix of private folders for the effective user: "kelvane-<uid>.".
    static std::string folderPrefix();
};
