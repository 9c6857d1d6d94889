#pragma once

#include "image/MoxListing.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CMOXLinker;

// The listing of an image with the program's source beside its code: the
// output pass lists every byte (class records, method tables, instructions
// with their Java text, exception tables, string tables) and, before the
// first instruction of each source line, this adds the line's file, number
// and text. Lines come from the same pc-to-line map the exception reports
// use; the text from the .java file next to the class file or along the
// class path, when one is there.
class SourceListing {
public:
    // Lists into itself during the linker's next link.
    explicit SourceListing(CMOXLinker& linker);
    ~SourceListing();
    SourceListing(const SourceListing&) = delete;
    SourceListing& operator=(const SourceListing&) = delete;

    const std::string& Text() const { return text_; }

private:
    std::string LinesBefore(int32_t offset);
    void MakeNotes();
    void NoteMethod(int classIndex, int method);
    const std::vector<std::string>* SourceLines(int classIndex);

    CMOXLinker& linker_;
    std::string text_;
    MoxListing listing_;
    bool notesMade_ = false;
    std::map<int32_t, std::string> notes_;
    // Each source file's lines, read once; no entry when none was found.
    std::map<std::string, std::vector<std::string>> sources_;
    std::map<std::string, bool> missing_; // source files looked for in vain
};
