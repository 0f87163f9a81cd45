#include "unrar/src/decode/OutputPipeline.h"

#include <cstring>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Blake2sp.h"
#include "unrar/src/Crc32.h"

namespace unrar::decode {

struct OutputPipeline::Blake2State {
    Blake2sp hash;
};

OutputPipeline::OutputPipeline(size_t blockSize, unsigned blocks)
    : blockSize_(blockSize), blocks_(blocks < 2 ? 2 : blocks), blake2State_(std::make_unique<Blake2State>())
{}

OutputPipeline::~OutputPipeline()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    produced_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void OutputPipeline::begin(Notifier notify, Writer write, bool blake2)
{
    waitDrained();
    notify_ = std::move(notify);
    write_ = std::move(write);
    wantBlake2_ = blake2;
    crc_ = 0;
    total_ = 0;
    std::memset(blake2_, 0, sizeof blake2_);
    if (blake2)
        blake2State_->hash = Blake2sp();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = 0;
    }
    for (Block& b : blocks_) {
        if (!b.data)
            b.data.reset(new uint8_t[blockSize_]);
        b.used = 0;
    }
    started_ = true;
    entryFirst_ = filled_;
}

void OutputPipeline::beginIntoString(std::string& out)
{
    out.clear();
    begin(
        nullptr,
        [&out](const uint8_t* d, size_t n) {
            out.append(reinterpret_cast<const char*>(d), n);
            return int(ERAR_SUCCESS);
        },
        false);
}

bool OutputPipeline::append(const uint8_t* data, size_t size)
{
    while (size > 0) {
        Block& b = blocks_[filled_ % blocks_.size()];
        const size_t n = size < blockSize_ - b.used ? size : blockSize_ - b.used;
        std::memcpy(b.data.get() + b.used, data, n);
        b.used += n;
        data += n;
        size -= n;
        if (b.used == blockSize_ && !handOver())
            return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_ == 0;
}

bool OutputPipeline::handOver()
{
    Block& b = blocks_[filled_ % blocks_.size()];
    if (notify_ && b.used && !notify_(b.data.get(), b.used)) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_)
            failure_ = ERAR_UNKNOWN; // the genuine library's code for a cancel here
        b.used = 0;
        return false;
    }
    if (!worker_.joinable())
        worker_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    ++filled_;
    produced_.notify_one();
    // The next block to fill must be free: wait while the ring is full.
    consumed_.wait(lock, [this] { return filled_ - done_ < blocks_.size(); });
    blocks_[filled_ % blocks_.size()].used = 0;
    return failure_ == 0;
}

void OutputPipeline::waitDrained()
{
    std::unique_lock<std::mutex> lock(mutex_);
    consumed_.wait(lock, [this] { return done_ == filled_; });
}

int OutputPipeline::finish()
{
    if (!started_)
        return ERAR_UNKNOWN;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ok = failure_ == 0;
    }
    Block& last = blocks_[filled_ % blocks_.size()];
    if (ok && filled_ == entryFirst_) {
        // An entry within one block is checked and written here: handing
        // it over would only add a wait for the other thread.
        if (last.used) {
            if (notify_ && !notify_(last.data.get(), last.used)) {
                std::lock_guard<std::mutex> lock(mutex_);
                failure_ = ERAR_UNKNOWN;
            } else {
                const int r = consume(last);
                std::lock_guard<std::mutex> lock(mutex_);
                failure_ = r;
            }
        }
        last.used = 0;
    } else if (ok && last.used) {
        handOver();
    }
    waitDrained();
    started_ = false;
    if (wantBlake2_) {
        const auto digest = blake2State_->hash.finish();
        std::memcpy(blake2_, digest.data(), sizeof blake2_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

int OutputPipeline::abandon()
{
    int own;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        own = failure_;
        if (!failure_)
            failure_ = ERAR_BAD_DATA; // the worker skips what is still queued
    }
    waitDrained();
    started_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    return own ? own : (failure_ == ERAR_BAD_DATA ? 0 : failure_);
}

int OutputPipeline::consume(const Block& b)
{
    crc_ = crc32Update(crc_, b.data.get(), b.used);
    if (wantBlake2_)
        blake2State_->hash.update(b.data.get(), b.used);
    total_ += b.used;
    return write_ ? write_(b.data.get(), b.used) : 0;
}

void OutputPipeline::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        produced_.wait(lock, [this] { return stop_ || done_ < filled_; });
        if (done_ == filled_)
            return; // stopping with nothing left
        Block& b = blocks_[done_ % blocks_.size()];
        const bool skip = failure_ != 0;
        lock.unlock();
        const int r = skip ? 0 : consume(b);
        lock.lock();
        if (r && !failure_)
            failure_ = r;
        ++done_;
        consumed_.notify_all();
    }
}

} // namespace unrar::decode
