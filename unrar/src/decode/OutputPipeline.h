#pragma once
// Hands decoded data to a second thread in blocks, so that checking it
// (CRC-32, BLAKE2sp) and writing it overlap with decoding. The decoder
// fills a small ring of buffers; each full buffer is first shown to the
// application on the caller's thread (UCM_PROCESSDATA must come from the
// thread that called the library), then passed to the worker, which hashes
// and writes the buffers in order. An entry that fits in one buffer is
// handled on the caller's thread at finish(). One pipeline serves any
// number of entries in turn; its thread, started with the first buffer
// handed over, lives as long as the pipeline.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace unrar::decode {

class OutputPipeline {
public:
    // On the caller's thread, before a block is handed over; false cancels the entry.
    using Notifier = std::function<bool(const uint8_t*, size_t)>;
    // On the worker, with each block in order; returns an ERAR_* code (0 = go on).
    using Writer = std::function<int(const uint8_t*, size_t)>;

    explicit OutputPipeline(size_t blockSize = size_t(1) << 20, unsigned blocks = 4);
    ~OutputPipeline();
    OutputPipeline(const OutputPipeline&) = delete;
    OutputPipeline& operator=(const OutputPipeline&) = delete;

    // Starts an entry. Either function may be empty. `blake2` asks for a
    // BLAKE2sp digest besides the CRC-32.
    void begin(Notifier notify, Writer write, bool blake2);
    // Starts an entry whose bytes are gathered into `out` (cleared first):
    // the small service data the library reads for itself.
    void beginIntoString(std::string& out);
    // Appends decoded bytes; false once the entry has failed (cancelled or
    // not writable): the decoder should stop, finish() tells why.
    bool append(const uint8_t* data, size_t size);
    // Hands over the last part, waits for the worker and returns the
    // entry's ERAR_* result (0 when every block was notified and written).
    int finish();
    // Ends the entry without handing over what is still buffered; returns
    // the output side's own failure (a cancel, a write error) or 0.
    int abandon();

    // Valid after finish(): what the worker saw.
    uint32_t crc32() const { return crc_; }
    const uint8_t* blake2sp() const { return blake2_; }
    uint64_t total() const { return total_; }

private:
    struct Block {
        std::unique_ptr<uint8_t[]> data;
        size_t used = 0;
    };
    bool handOver(); // the block being filled goes to the worker
    void waitDrained();
    void run();
    int consume(const Block& b); // hash and write one block

    const size_t blockSize_;
    std::vector<Block> blocks_;
    Notifier notify_;
    Writer write_;
    bool wantBlake2_ = false;

    std::mutex mutex_;
    std::condition_variable produced_, consumed_;
    uint64_t filled_ = 0; // blocks handed over (producer)
    uint64_t done_ = 0;   // blocks the worker finished
    bool stop_ = false;
    int failure_ = 0; // first ERAR_* failure of the entry
    bool started_ = false;
    uint64_t entryFirst_ = 0; // filled_ when the entry began

    // Worker-side results.
    uint32_t crc_ = 0;
    uint8_t blake2_[32] = {};
    uint64_t total_ = 0;
    struct Blake2State;
    std::unique_ptr<Blake2State> blake2State_;
    std::thread worker_;
};

} // namespace unrar::decode
