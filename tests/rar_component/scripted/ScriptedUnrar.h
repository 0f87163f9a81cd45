#pragma once
// The script that a scripted stand-in for the UnRAR library plays back, and
// the log of what it was asked and answered. The tests load the same library
// the component loads and hand it a script through ScriptedUnrarLoad.
#include <string>
#include <vector>

namespace scripted {

// A callback message the library sends while reading or processing an entry.
struct Request {
    enum class When { Read, Process };
    When when = When::Process;
    unsigned msg = 0;
    long p2 = 0;         // volume mode, password buffer size or data block size
    std::string text{};  // what the buffer at P1 holds before the call (volume name)
    int failureCode = 0; // returned by the library call when the answer is -1
};

struct Entry {
    std::string name{}; // stored name, '/' separated
    unsigned flags = 0;
    unsigned packSize = 0;
    unsigned unpSize = 0;
    unsigned unpSizeHigh = 0;
    unsigned hostOS = 2;
    unsigned crc = 0;
    unsigned fileTime = 0x58B1528F;
    unsigned unpVer = 29;
    unsigned method = 0x30;
    unsigned attr = 0x20;
    unsigned dictSizeKb = 0;
    unsigned cmtSize = 0;
    int readResult = 0;
    int processResult = 0;   // returned when testing or extracting
    std::string content{};   // written by RAR_EXTRACT
    std::string writtenTo{}; // where RAR_EXTRACT writes it instead (a library that misreads the destination)
    std::vector<Request> requests{};
};

struct Script {
    bool openFails = false;
    unsigned archiveFlags = 0;
    unsigned cmtState = 0;
    std::string comment{}; // copied into the comment buffer when cmtState is 1
    int closeResult = 0;
    std::vector<Entry> entries{};
};

// One line per call: "open <mode>", "callback", "read <result>",
// "process <op> <folder|-> <name|-> <result>", "cb <msg> <answer> <buffer>",
// "close <result>".
using Log = std::vector<std::string>;

} // namespace scripted

extern "C" {
typedef void (*ScriptedUnrarLoadFn)(const scripted::Script* script);
typedef const scripted::Log* (*ScriptedUnrarLogFn)();
}
