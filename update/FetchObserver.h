#pragma once
// What a front end sees of a fetch while it runs. The dialog moves its
// progress bar and processes window events here, so that it stays responsive
// although the fetch runs on its thread.
#include <cstdint>
#include <optional>
#include <string>

class FetchObserver {
public:
    virtual ~FetchObserver() = default;
    // After each block moved: bytes so far and the total when known. Returning
    // false cancels the fetch, which then fails.
    virtual bool fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total)
    {
        (void)done;
        (void)total;
        return true;
    }
    // Why a fetch failed (UTF-8), for logs and the command line; the user's
    // message box stays "Не удалось обновить файл!".
    virtual void fetchFailed(const std::string& reason) { (void)reason; }
    // How the release was fetched (UTF-8), for logs and the command line: a
    // delta and the bytes it saved, or why the whole archive was fetched.
    virtual void fetchNote(const std::string& note) { (void)note; }
};
