#pragma once
// A component bound to the scripted library, an existing archive file for it
// to open, and a record of every OnError call.
#include "ScriptedLibrary.h"

#include "RAR_Component/RAR.h"
#include "platform/RecordingMessages.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

struct ErrorCall {
    int code;
    TRAROperation operation;
    bool operator==(const ErrorCall&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ErrorCall& e);

// Entries as the library reports them.
scripted::Entry fileEntry(const std::string& name, const std::string& content = "data");
scripted::Entry folderEntry(const std::string& name);

class ComponentFixture : public ::testing::Test {
protected:
    ComponentFixture();

    // Plays the script and opens the archive; the script's log then starts afresh.
    bool openWith(const scripted::Script& script);
    // Plays the script while the archive is opened, or opens it first and
    // plays the script while it is tested.
    void openOrTest(bool duringOpen, const scripted::Script& script);
    const scripted::Log& log() const { return library.log(); }
    std::string folder(const std::string& name);

    testsupport::TempDir dir{"tavrel-rarcomp"};
    std::string archive;
    platform::RecordingMessages messages;
    ScriptedLibrary library{SCRIPTED_UNRAR};
    TRAR rar{messages};
    std::vector<ErrorCall> errors;
};
