#include "ComponentFixture.h"

#include "platform/TextCodec.h"

#include <filesystem>

std::ostream& operator<<(std::ostream& out, const ErrorCall& e)
{
    return out << "{" << e.code << ", " << static_cast<int>(e.operation) << "}";
}

scripted::Entry fileEntry(const std::string& name, const std::string& content)
{
    scripted::Entry e;
    e.name = name;
    e.content = content;
    e.packSize = static_cast<unsigned>(content.size());
    e.unpSize = static_cast<unsigned>(content.size());
    e.dictSizeKb = 4096;
    return e;
}

scripted::Entry folderEntry(const std::string& name)
{
    scripted::Entry e;
    e.name = name;
    e.flags = RHDF_DIRECTORY;
    e.attr = 0x10;
    return e;
}

ComponentFixture::ComponentFixture()
{
    archive = (dir / "update.rar").string();
    testsupport::writeFileBytes(archive, "Rar!\x1a\x07\x01");
    rar.setDllName(library.path());
    rar.OnError = [this](TRAR&, int code, TRAROperation operation) { errors.push_back({code, operation}); };
}

bool ComponentFixture::openWith(const scripted::Script& script)
{
    library.play(script);
    const bool opened = rar.OpenFile(platform::ansiToUtf16(archive));
    library.play(script);
    errors.clear();
    return opened;
}

void ComponentFixture::openOrTest(bool duringOpen, const scripted::Script& script)
{
    if (duringOpen) {
        library.play(script);
        rar.OpenFile(platform::ansiToUtf16(archive));
    } else {
        openWith(script);
        rar.Test();
    }
}

std::string ComponentFixture::folder(const std::string& name)
{
    const auto path = dir / name;
    std::filesystem::create_directories(path);
    return path.string();
}
