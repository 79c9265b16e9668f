#include "formats/HuffmanDecoder.h"

#include "formats/HuffmanBits.h"
#include "platform/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kTableBits = 11;
constexpr std::uint64_t kLookaheadMask = (std::uint64_t(1) << kTableBits) - 1;
constexpr int kLookupsPerLoad = 4; // 4 x 11 bits fit in the 49 or more bits of a refill
static_assert(kLookupsPerLoad * kTableBits <= 49);
// A run of the one-bit code 0 is taken when it is at least this long, up to 56 values at once.
constexpr unsigned kMinRun = 16;
constexpr unsigned kMaxRun = 56;
// Room for every value one pass of the serial loop can emit plus the scratch bytes of its stores:
// 56 bytes of a run, or four lookups of up to 6 values with an 8-byte store each.
constexpr std::ptrdiff_t kFastRoom = 64;
static_assert(kFastRoom >= kLookupsPerLoad * 6 + 8 && kFastRoom >= std::ptrdiff_t(kMaxRun));

/// Blocks one thread decodes interleaved, so that their lookups overlap.
constexpr int kInterleave = 4;
constexpr std::uint32_t kDefaultBlockBits = 8 * 64 * 1024;
/// Noted positions count bits from the block's start in 32 bits, with room for the overshoot.
constexpr std::uint32_t kMaxBlockBits = std::uint32_t(1) << 30;
/// Lookups a block's decoder notes at its start. The true decoder must meet it within them; on
/// map payloads that takes a few codes, and about 1700 bits at worst.
constexpr int kSyncLookups = 1024;
/// Compressed bytes at the end that only the true decoder reads. The blocks' decoders stop a few
/// codes after their block (at most four codes of 255 bits) and load 8 bytes beyond that, so they
/// never come near the end, and running out is found by the serial decoder alone.
constexpr std::uint32_t kTailBytes = 1024;
/// Room in a block's buffer beyond one value per bit: the overshoot past the block's end and the
/// scratch of the last stores.
constexpr std::uint32_t kBlockSlack = 4096;

/// Copies a block's true values to their place in the payload. The payload is not read again
/// soon, so the copy streams past the caches: that spares reading each destination line first,
/// and the copies cost about half as much as with memcpy.
void CopyToPayload(std::uint8_t* to, const std::uint8_t* from, std::size_t bytes)
{
#if defined(__SSE2__)
    for (; bytes != 0 && (reinterpret_cast<std::uintptr_t>(to) & 15) != 0; --bytes)
        *to++ = *from++;
    for (; bytes >= 64; bytes -= 64, to += 64, from += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(to), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + 48), d);
    }
    _mm_sfence(); // the streamed stores are seen in order with everything after
#endif
    std::memcpy(to, from, bytes);
}

/// Applies step to each of the first K lanes with the lane's number. The lanes are separate
/// variables, not an array, so that they stay in registers; this names them one by one.
template <int K, class Lane, class Step>
[[gnu::always_inline]] inline void ForEachLane(Lane& lane0, Lane& lane1, Lane& lane2, Lane& lane3, Step&& step)
{
    step(lane0, 0);
    if constexpr (K > 1)
        step(lane1, 1);
    if constexpr (K > 2)
        step(lane2, 2);
    if constexpr (K > 3)
        step(lane3, 3);
}

} // namespace

/// Where a block's decoder stood before one of its first lookups: the bit, counted from the
/// block's start, and the number of values it had written.
struct HuffmanDecoder::SyncPoint {
    std::uint32_t m_nBit;
    std::uint32_t m_nOut;
};

/// How the speculative decoding of one stream is laid out.
struct HuffmanDecoder::Plan {
    std::uint64_t m_nFirstBit = 0; ///< where the first block starts
    std::uint32_t m_nBlockBits = 0;
    std::uint32_t m_nBlocks = 0;
    int m_nInterleave = 1;   ///< blocks per group, decoded interleaved by one thread
    bool m_bRuns = false;    ///< blocks are decoded with the run path, one at a time
    std::uint32_t m_nGroups = 0;
    int m_nThreads = 1;
};

/// Where a lane notes the positions of its first lookups: the block's points, start and buffer.
struct HuffmanDecoder::Notes {
    SyncPoint* m_pPoints = nullptr;
    std::uint64_t m_nStart = 0;
    const std::uint8_t* m_pBuffer = nullptr;
};

/// A thread's block buffers and noted points, kept for the thread's next decode unless larger
/// than the default blocks need: fresh memory costs a page fault a page, and on the fast
/// line-art path those faults were a good part of a block's time.
struct HuffmanDecoder::BlockMemory {
    std::unique_ptr<std::uint8_t[]> m_pBytes;
    std::unique_ptr<SyncPoint[]> m_pPoints;
    std::size_t m_nBytes = 0;
    std::size_t m_nBlocks = 0;

    /// This thread's memory for blocks buffers of bytes bytes in all; m_pBytes is null when
    /// there is no memory for them.
    static BlockMemory& OfThisThread(std::size_t bytes, std::size_t blocks)
    {
        thread_local BlockMemory memory;
        if (memory.m_nBytes < bytes) {
            memory.m_pBytes.reset(new (std::nothrow) std::uint8_t[bytes]);
            memory.m_nBytes = memory.m_pBytes ? bytes : 0;
        }
        if (memory.m_nBlocks < blocks) {
            memory.m_pPoints.reset(new (std::nothrow) SyncPoint[std::size_t(kSyncLookups) * blocks]);
            memory.m_nBlocks = memory.m_pPoints ? blocks : 0;
        }
        if (!memory.m_pPoints) {
            memory.m_pBytes.reset();
            memory.m_nBytes = 0;
        }
        return memory;
    }

    /// Gives the buffers back when they are larger than the default blocks need.
    void Trim()
    {
        if (m_nBytes > std::size_t(kInterleave) * (kDefaultBlockBits + kBlockSlack)) {
            m_pBytes.reset();
            m_nBytes = 0;
        }
    }
};

/// One block of a group: its bits, its buffer and its decoder's notes and end.
struct HuffmanDecoder::Block {
    std::uint64_t m_nStart = 0;
    std::uint64_t m_nStop = 0;
    std::uint8_t* m_pBuffer = nullptr;
    SyncPoint* m_pPoints = nullptr;
    int m_nPoints = 0;
    Cursor m_End; ///< where the block's decoder stopped, at or a few codes around m_nStop
};

/// The speculative decoding of one stream: groups of blocks taken by the threads in order, and
/// joined to the true decoder in that order.
class HuffmanDecoder::Speculation {
public:
    Speculation(const HuffmanDecoder& decoder, const Plan& plan, std::uint8_t* destination, std::uint8_t* end)
        : m_Decoder(decoder), m_Plan(plan), m_pEnd(end)
    {
        m_True = {plan.m_nFirstBit, destination};
    }

    /// Runs the groups and returns the true decoder where the last block left it (or at end).
    Cursor Run()
    {
        if (m_Plan.m_nThreads <= 1)
            Work();
        else
            WorkerPool::Shared().Run(m_Plan.m_nThreads, [this](int) { Work(); });
        return m_True;
    }

private:
    /// A stretch of a block's buffer that turned out true, to copy to its place.
    struct Copy {
        std::uint8_t* m_pTo;
        const std::uint8_t* m_pFrom;
        std::size_t m_nBytes;
    };

    /// One thread: takes the next group, decodes its blocks, waits for the groups before it to
    /// be joined, joins its own and copies what was true.
    void Work()
    {
        const int width = m_Plan.m_nInterleave;
        const std::size_t capacity = std::size_t(m_Plan.m_nBlockBits) + kBlockSlack;
        BlockMemory& memory = BlockMemory::OfThisThread(capacity * std::size_t(width), std::size_t(width));
        if (!memory.m_pBytes)
            return; // a thread without memory takes no group; what no thread takes, the serial tail decodes
        Block blocks[kInterleave];
        for (int i = 0; i < width; ++i) {
            blocks[i].m_pBuffer = memory.m_pBytes.get() + capacity * std::size_t(i);
            blocks[i].m_pPoints = memory.m_pPoints.get() + std::size_t(kSyncLookups) * std::size_t(i);
        }
        for (std::uint32_t group = m_nNextGroup.fetch_add(1); group < m_Plan.m_nGroups;
             group = m_nNextGroup.fetch_add(1)) {
            const std::uint32_t first = group * std::uint32_t(width);
            const int count = static_cast<int>(std::min<std::uint32_t>(std::uint32_t(width), m_Plan.m_nBlocks - first));
            for (int i = 0; i < count; ++i) {
                blocks[i].m_nStart = m_Plan.m_nFirstBit + std::uint64_t(first + std::uint32_t(i)) * m_Plan.m_nBlockBits;
                blocks[i].m_nStop = blocks[i].m_nStart + m_Plan.m_nBlockBits;
            }
            const bool finished = m_bFinished.load(std::memory_order_acquire);
            if (!finished)
                DecodeGroup(blocks, count);

            for (std::uint32_t joined = m_nJoined.load(std::memory_order_acquire); joined != group;
                 joined = m_nJoined.load(std::memory_order_acquire))
                m_nJoined.wait(joined, std::memory_order_acquire);
            Copy copies[kInterleave];
            int copyCount = 0;
            if (!m_bFinished.load(std::memory_order_acquire)) {
                for (int i = 0; i < count; ++i)
                    if (const std::optional<Copy> copy = Join(blocks[i]))
                        copies[copyCount++] = *copy;
                if (m_True.m_pOut == m_pEnd) {
                    m_bFinished.store(true, std::memory_order_release);
                    // The groups after the end are not taken at all: handing the turn through
                    // each of them woke one thread after the other for nothing.
                    m_nNextGroup.store(m_Plan.m_nGroups);
                }
            }
            m_nJoined.store(group + 1, std::memory_order_release);
            m_nJoined.notify_all();
            for (int i = 0; i < copyCount; ++i)
                CopyToPayload(copies[i].m_pTo, copies[i].m_pFrom, copies[i].m_nBytes);
        }
        memory.Trim();
    }

    /// Decodes count blocks from their own starts into their buffers.
    void DecodeGroup(Block* blocks, int count) const
    {
        Cursor cursors[kInterleave];
        std::uint64_t stops[kInterleave];
        Notes notes[kInterleave];
        int lanes[kInterleave];
        int active = 0;
        for (int i = 0; i < count; ++i) {
            Block& block = blocks[i];
            block.m_End = {block.m_nStart, block.m_pBuffer};
            block.m_nPoints = 0;
            // A lane reads a whole word ahead: one this close to its stop is done.
            if ((block.m_nStart >> 3) + 8 < (block.m_nStop >> 3)) {
                lanes[active] = i;
                cursors[active] = block.m_End;
                stops[active] = block.m_nStop;
                notes[active] = {block.m_pPoints, block.m_nStart, block.m_pBuffer};
                ++active;
            } else {
                block.m_nPoints = m_Decoder.DecodeNoting(block.m_End, block.m_nStop, block.m_pPoints, kSyncLookups,
                                                         block.m_nStart, block.m_pBuffer);
            }
        }
        // The first lookups note where they began, interleaved as well (with runs one by one).
        bool noting = active > 0;
        while (active > 0) {
            unsigned done = 0;
            if (m_Plan.m_bRuns) {
                if (noting) {
                    Block& block = blocks[lanes[0]];
                    block.m_nPoints = m_Decoder.DecodeNoting(cursors[0], block.m_nStop, block.m_pPoints, kSyncLookups,
                                                             block.m_nStart, block.m_pBuffer);
                    done = (cursors[0].m_nBit >> 3) + 8 < (block.m_nStop >> 3) ? 0 : 1;
                } else {
                    done = m_Decoder.DecodeLanes<1, true, false>(cursors, stops);
                }
            } else if (noting) {
                int noted = 0;
                switch (active) {
                case 1: done = m_Decoder.DecodeLanes<1, false, true>(cursors, stops, notes, &noted); break;
                case 2: done = m_Decoder.DecodeLanes<2, false, true>(cursors, stops, notes, &noted); break;
                case 3: done = m_Decoder.DecodeLanes<3, false, true>(cursors, stops, notes, &noted); break;
                default: done = m_Decoder.DecodeLanes<4, false, true>(cursors, stops, notes, &noted); break;
                }
                for (int k = 0; k < active; ++k)
                    blocks[lanes[k]].m_nPoints = noted;
            } else {
                switch (active) {
                case 1: done = m_Decoder.DecodeLanes<1, false, false>(cursors, stops); break;
                case 2: done = m_Decoder.DecodeLanes<2, false, false>(cursors, stops); break;
                case 3: done = m_Decoder.DecodeLanes<3, false, false>(cursors, stops); break;
                default: done = m_Decoder.DecodeLanes<4, false, false>(cursors, stops); break;
                }
            }
            noting = false;
            int kept = 0;
            for (int k = 0; k < active; ++k) {
                blocks[lanes[k]].m_End = cursors[k];
                if ((done >> k) & 1)
                    continue;
                lanes[kept] = lanes[k];
                cursors[kept] = cursors[k];
                stops[kept] = stops[k];
                ++kept;
            }
            active = kept;
        }
    }

    /// Carries the true decoder through block: code by code until it meets one of the points
    /// the block's decoder noted, then over the block's own values. Without a meeting it decodes
    /// the block itself. Returns the block's true values still to be copied, if any.
    std::optional<Copy> Join(const Block& block)
    {
        Cursor& at = m_True;
        int next = 0;
        while (at.m_pOut != m_pEnd) {
            while (next < block.m_nPoints && block.m_nStart + block.m_pPoints[next].m_nBit < at.m_nBit)
                ++next;
            if (next == block.m_nPoints)
                break;
            const SyncPoint& point = block.m_pPoints[next];
            if (block.m_nStart + point.m_nBit == at.m_nBit) {
                // In step: from here the block's decoder decoded what the true one would.
                const std::uint8_t* from = block.m_pBuffer + point.m_nOut;
                const auto bytes = std::size_t(block.m_End.m_pOut - from);
                if (bytes > std::size_t(m_pEnd - at.m_pOut))
                    break; // the end lies inside: decoded below, so that the bit after it is known
                const Copy copy {at.m_pOut, from, bytes};
                at.m_pOut += bytes;
                at.m_nBit = block.m_End.m_nBit;
                return copy;
            }
            at.m_nBit += m_Decoder.DecodeOne(at.m_nBit, *at.m_pOut);
            ++at.m_pOut;
        }
        if (at.m_pOut != m_pEnd)
            m_Decoder.DecodeSerial<true>(at, m_pEnd, block.m_nStop); // never in step: decode it again
        return std::nullopt;
    }

    const HuffmanDecoder& m_Decoder;
    const Plan m_Plan;
    std::uint8_t* const m_pEnd;
    std::atomic<std::uint32_t> m_nNextGroup {0};
    /// Groups joined so far; the thread that joins group g waits for it to reach g.
    std::atomic<std::uint32_t> m_nJoined {0};
    std::atomic<bool> m_bFinished {false};
    /// The true decoder, after the blocks joined so far (handed on through m_nJoined).
    Cursor m_True;
};

HuffmanDecoder::HuffmanDecoder(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t sourceLength)
    : m_Tree(tree), m_pTable(tree.m_nDecodeTable.data()), m_pSource(source), m_nSourceLength(sourceLength)
{
}

std::uint32_t HuffmanDecoder::Decode(std::uint32_t count, std::uint8_t* destination, bool* exhausted,
                                     std::uint64_t startBit, std::uint64_t* endBit) const
{
    std::uint8_t* const end = destination + count;
    Cursor at {startBit, destination};

    const CHuffmanTree::Parallelism& settings = m_Tree.m_Parallelism;
    Plan plan;
    plan.m_nBlockBits = settings.m_nBlockBits != 0 ? std::min(settings.m_nBlockBits, kMaxBlockBits) : kDefaultBlockBits;
    plan.m_nFirstBit = startBit;
    if (settings.m_bSpeculative && m_nSourceLength > kTailBytes &&
        std::uint64_t(m_nSourceLength - kTailBytes) * 8 > startBit && count > 0) {
        // Blocks cover the stream up to the tail, and never more than count values can reach.
        const std::uint64_t reach = std::uint64_t(count) * std::uint64_t(std::max(m_Tree.m_nMaxCodeLength, 1));
        const std::uint64_t covered = std::min(std::uint64_t(m_nSourceLength - kTailBytes) * 8 - startBit, reach);
        plan.m_nBlocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(covered / plan.m_nBlockBits, 0xFFFFFFFFu));
        plan.m_bRuns = PrefersRuns();
        plan.m_nInterleave = plan.m_bRuns ? 1 : kInterleave;
        plan.m_nGroups = (plan.m_nBlocks + std::uint32_t(plan.m_nInterleave) - 1) / std::uint32_t(plan.m_nInterleave);
        const int threads = settings.m_nThreads > 0 ? settings.m_nThreads : WorkerPool::Shared().Threads();
        plan.m_nThreads = static_cast<int>(std::min<std::uint32_t>(std::uint32_t(std::max(threads, 1)), plan.m_nGroups));
    }
    // Speculation pays with blocks to overlap: interleaved on one thread, or on several threads.
    const bool speculate = plan.m_nBlocks >= 2 && (plan.m_nThreads > 1 || !plan.m_bRuns);
    if (speculate)
        at = Speculation(*this, plan, destination, end).Run();
    if (at.m_pOut != end)
        DecodeSerial<false>(at, end, 0);
    const auto decoded = static_cast<std::uint32_t>(at.m_pOut - destination);
    if (exhausted != nullptr)
        *exhausted = decoded < count;
    if (endBit != nullptr)
        *endBit = at.m_nBit;
    return decoded;
}

bool HuffmanDecoder::PrefersRuns() const
{
    if (m_Tree.m_nRunValue < 0)
        return false;
    // Runs of 16 and more are common only when the one-bit value makes most of the payload.
    std::uint64_t total = 0;
    for (std::uint32_t count : m_Tree.m_nCounts)
        total += count;
    return double(m_Tree.m_nCounts[static_cast<std::size_t>(m_Tree.m_nRunValue)]) >= 0.75 * double(total);
}

template <bool Stops>
bool HuffmanDecoder::DecodeSerial(Cursor& at, std::uint8_t* const end, std::uint64_t stopBit) const
{
    const std::uint8_t* const source = m_pSource;
    const std::uint32_t sourceLength = m_nSourceLength;
    const std::uint64_t bitEnd = std::uint64_t(sourceLength) * 8;
    std::uint64_t bitPos = at.m_nBit;
    std::uint8_t* out = at.m_pOut;

    // Finishes a code bit by bit from node, checking every bit against the compressed length.
    auto walk = [&](const CHuffmanTree::CNode* node) {
        while (!node->IsLeaf()) {
            if (bitPos >= bitEnd)
                return false;
            const bool bit = ((source[bitPos >> 3] >> (bitPos & 7)) & 1) != 0;
            node = bit ? node->m_pChild1 : node->m_pChild0;
            ++bitPos;
        }
        *out++ = static_cast<std::uint8_t>(node->m_nIndex);
        return true;
    };

    const bool runs = m_Tree.m_nRunValue >= 0;
    const auto runByte = static_cast<std::uint8_t>(m_Tree.m_nRunValue);
    const std::uint64_t* const table = m_pTable;
    const CHuffmanTree::CNode* const nodes = m_Tree.m_Nodes.data();

    const std::uint8_t* const sourceEnd = source + sourceLength;
    bool ranOut = false;
    while (out != end && !ranOut) {
        if constexpr (Stops)
            if (bitPos >= stopBit)
                break;
        if (end - out < kFastRoom || (bitPos >> 3) + 8 > sourceLength) {
            ranOut = !walk(&nodes[CHuffmanTree::kRootIndex]); // the last few values or compressed bytes
            continue;
        }
        // Bit buffer: the lowest `count` bits of `bits` are the next bits of the stream and
        // `next` is the byte holding the first bit after them. A refill loads the 8 bytes at
        // `next`, whose address is known long before the bits are needed, so the load stays
        // off the chain of lookups. Every load lies inside the compressed bytes, so the table
        // sees exactly the bits a bit-by-bit walk would read.
        const std::uint8_t* next = source + (bitPos >> 3);
        std::uint64_t bits = 0;
        unsigned count = 0;
        auto refill = [&] {
            bits |= HuffmanLoad64(next) << count;
            next += (63 - count) >> 3;
            count |= 56; // 56 to 63 bits now
        };
        refill();
        bits >>= bitPos & 7;
        count -= static_cast<unsigned>(bitPos & 7); // at least 49, enough for the lookups
        const CHuffmanTree::CNode* unfinished = nullptr;
        for (;;) {
            const auto runLimit = std::min(count, kMaxRun);
            const auto run = runs ? static_cast<unsigned>(std::countr_zero(bits | (std::uint64_t(1) << runLimit))) : 0u;
            if (run >= kMinRun) {
                std::memset(out, runByte, kMaxRun);
                out += run;
                bits >>= run;
                count -= run;
            } else {
                for (int lookup = 0; lookup < kLookupsPerLoad; ++lookup) {
                    const std::uint64_t entry = table[bits & kLookaheadMask];
                    if ((entry & 0xFF00) == 0) {
                        bits >>= kTableBits;
                        count -= kTableBits;
                        unfinished = &nodes[(entry >> 16) & 0xFFFF];
                        break;
                    }
                    HuffmanStore64(out, entry >> 16);
                    out += (entry >> 8) & 0xFF;
                    bits >>= entry & 63;
                    count -= static_cast<unsigned>(entry & 0xFF);
                }
            }
            if (unfinished != nullptr || end - out < kFastRoom || sourceEnd - next < 8)
                break;
            if constexpr (Stops)
                if (std::uint64_t(next - source) * 8 - count >= stopBit)
                    break;
            refill();
        }
        bitPos = std::uint64_t(next - source) * 8 - count;
        if (unfinished != nullptr)
            ranOut = !walk(unfinished);
    }
    at = {bitPos, out};
    return !ranOut;
}

int HuffmanDecoder::DecodeNoting(Cursor& at, std::uint64_t stopBit, SyncPoint* points, int maxPoints,
                                 std::uint64_t blockStart, const std::uint8_t* buffer) const
{
    const CHuffmanTree::CNode* const nodes = m_Tree.m_Nodes.data();
    int noted = 0;
    while (noted < maxPoints && at.m_nBit < stopBit) {
        points[noted++] = {static_cast<std::uint32_t>(at.m_nBit - blockStart),
                           static_cast<std::uint32_t>(at.m_pOut - buffer)};
        const std::uint64_t bits = HuffmanLoad64(m_pSource + (at.m_nBit >> 3)) >> (at.m_nBit & 7);
        const std::uint64_t entry = m_pTable[bits & kLookaheadMask];
        if ((entry & 0xFF00) != 0) {
            HuffmanStore64(at.m_pOut, entry >> 16);
            at.m_pOut += (entry >> 8) & 0xFF;
            at.m_nBit += entry & 0xFF;
            continue;
        }
        const CHuffmanTree::CNode* node = &nodes[(entry >> 16) & 0xFFFF];
        at.m_nBit += kTableBits;
        while (!node->IsLeaf()) {
            node = ((m_pSource[at.m_nBit >> 3] >> (at.m_nBit & 7)) & 1) != 0 ? node->m_pChild1 : node->m_pChild0;
            ++at.m_nBit;
        }
        *at.m_pOut++ = static_cast<std::uint8_t>(node->m_nIndex);
    }
    return noted;
}

unsigned HuffmanDecoder::DecodeOne(std::uint64_t bit, std::uint8_t& value) const
{
    const std::uint64_t bits = HuffmanLoad64(m_pSource + (bit >> 3)) >> (bit & 7);
    const std::uint64_t entry = m_pTable[bits & kLookaheadMask];
    if ((entry & 0xFF00) != 0) {
        value = static_cast<std::uint8_t>(entry >> 16);
        return m_Tree.m_nCodeLength[value];
    }
    const CHuffmanTree::CNode* node = &m_Tree.m_Nodes[(entry >> 16) & 0xFFFF];
    std::uint64_t at = bit + kTableBits;
    while (!node->IsLeaf()) {
        node = ((m_pSource[at >> 3] >> (at & 7)) & 1) != 0 ? node->m_pChild1 : node->m_pChild0;
        ++at;
    }
    value = static_cast<std::uint8_t>(node->m_nIndex);
    return static_cast<unsigned>(at - bit);
}

namespace {

/// A lane's word with its marker set in the top bit.
[[gnu::always_inline]] inline std::uint64_t WithMarker(std::uint64_t word)
{
#if defined(__GNUC__) && defined(__x86_64__)
    // One instruction with the bit in it: the compiler would hold the 64-bit constant in a
    // register, which the four lanes need.
    asm("btsq $63, %0" : "+r"(word) : : "cc");
    return word;
#else
    return word | (std::uint64_t(1) << 63);
#endif
}

/// Bits of a lane's 8 bytes decoded so far: how far its marker has moved down from the top.
[[gnu::always_inline]] inline unsigned Decoded(std::uint64_t bits)
{
    return static_cast<unsigned>(__builtin_clzll(bits)); // never 0: the marker stays in the word
}

} // namespace

[[gnu::always_inline]] inline HuffmanDecoder::Lane HuffmanDecoder::Prime(const Cursor& at) const
{
    Lane lane;
    lane.m_pNext = m_pSource + (at.m_nBit >> 3);
    lane.m_nBits = WithMarker(HuffmanLoad64(lane.m_pNext)) >> (at.m_nBit & 7); // at least 56 bits to decode
    lane.m_pOut = at.m_pOut;
    return lane;
}

[[gnu::always_inline]] inline void HuffmanDecoder::Reload(Lane& lane)
{
    const unsigned decoded = Decoded(lane.m_nBits);
    lane.m_pNext += decoded >> 3;
    lane.m_nBits = WithMarker(HuffmanLoad64(lane.m_pNext)) >> (decoded & 7);
}

[[gnu::always_inline]] inline std::uint64_t HuffmanDecoder::Position(const Lane& lane) const
{
    return std::uint64_t(lane.m_pNext - m_pSource) * 8 + Decoded(lane.m_nBits);
}

[[gnu::noinline, gnu::cold]] std::uint64_t HuffmanDecoder::FinishLongCode(std::uint64_t bit, unsigned node,
                                                                           unsigned tableBits, std::uint8_t* out) const
{
    const CHuffmanTree::CNode* at = &m_Tree.m_Nodes[node];
    bit += tableBits;
    while (!at->IsLeaf()) {
        at = ((m_pSource[bit >> 3] >> (bit & 7)) & 1) != 0 ? at->m_pChild1 : at->m_pChild0;
        ++bit;
    }
    *out = static_cast<std::uint8_t>(at->m_nIndex);
    return bit;
}

unsigned HuffmanDecoder::DecodeRuns(Cursor& at, std::uint64_t stopBit) const
{
    // One lane alone would wait on each reload it computes from its lookups: this one counts
    // its bits, so that a refill loads where the one before left off, known a round ahead.
    const std::uint8_t* const limit = m_pSource + (stopBit >> 3);
    const std::uint64_t* const table = m_pTable;
    const auto runByte = static_cast<std::uint8_t>(m_Tree.m_nRunValue);
    const std::uint8_t* next = nullptr;
    std::uint64_t bits = 0;
    unsigned count = 0; // the lowest count bits of bits are the next bits; next holds the first after them
    auto prime = [&](std::uint64_t bit) {
        next = m_pSource + (bit >> 3);
        bits = HuffmanLoad64(next) >> (bit & 7);
        next += 7;
        count = 56 - static_cast<unsigned>(bit & 7); // at least 49, enough for the lookups
    };
    auto position = [&] { return std::uint64_t(next - m_pSource) * 8 - count; };
    std::uint8_t* out = at.m_pOut;
    prime(at.m_nBit);
    for (;;) {
        // A run of the one-bit code taken at once, or a load's lookups in the serial loop's
        // table, whose entries take up to 6 values of a one-bit code.
        const auto run = static_cast<unsigned>(std::countr_zero(bits | (std::uint64_t(1) << std::min(count, kMaxRun))));
        if (run >= kMinRun) {
            std::memset(out, runByte, kMaxRun);
            out += run;
            bits >>= run;
            count -= run;
        } else {
            std::uint64_t last = 0;
            for (int i = 0; i < kLookupsPerLoad; ++i) {
                last = table[bits & kLookaheadMask];
                HuffmanStore64(out, last >> 16);
                out += (last >> 8) & 0xFF;
                bits >>= last & 63;
                count -= static_cast<unsigned>(last & 0xFF);
            }
            if ((last & 0xFF00) == 0) [[unlikely]] {
                prime(FinishLongCode(position(), (last >> 16) & 0xFFFF, kTableBits, out));
                ++out;
            }
        }
        if (next >= limit)
            break;
        bits |= HuffmanLoad64(next) << count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    at = {position(), out};
    return 1;
}

template <int K, bool Noting>
[[gnu::always_inline]] inline bool HuffmanDecoder::StepLanes(Lane& lane0, Lane& lane1, Lane& lane2, Lane& lane3,
                                                             const std::uint32_t* wide, const Notes* notes,
                                                             int* noted) const
{
    // A code longer than the table stalls its lane: its entry consumes nothing, so the lane's
    // further lookups give the same entry again, and the lane's last entry shows it. DecodeLanes
    // finishes the code after the reload, outside the lanes' hot path.
    constexpr std::uint64_t kWideMask = (std::uint64_t(1) << CHuffmanTree::kWideTableBits) - 1;
    static_assert(kLookupsPerLoad * CHuffmanTree::kWideTableBits <= 56); // the bits a reload leaves
    auto lookupWide = [&](Lane& lane) {
        const std::uint32_t entry = wide[lane.m_nBits & kWideMask];
        HuffmanStore32(lane.m_pOut, entry >> 8);
        lane.m_pOut += (entry >> 6) & 3;
        lane.m_nBits >>= entry & 63;
        return entry;
    };
    auto note = [&](Lane& lane, int k) {
        if constexpr (Noting) {
            notes[k].m_pPoints[*noted] = {static_cast<std::uint32_t>(Position(lane) - notes[k].m_nStart),
                                          static_cast<std::uint32_t>(lane.m_pOut - notes[k].m_pBuffer)};
        }
    };
#pragma GCC unroll 4
    for (int i = 0; i < kLookupsPerLoad - 1; ++i) {
        ForEachLane<K>(lane0, lane1, lane2, lane3, [&](Lane& lane, int k) {
            note(lane, k);
            lookupWide(lane);
        });
        if constexpr (Noting)
            ++*noted;
    }
    ForEachLane<K>(lane0, lane1, lane2, lane3, note);
    if constexpr (Noting)
        ++*noted;
    // Whether a lane stalled is gathered in one flag, so that the lanes' last entries need no
    // registers of their own until the end of the round.
    bool stalled = false;
    ForEachLane<K>(lane0, lane1, lane2, lane3,
                   [&](Lane& lane, int) { stalled |= (lookupWide(lane) & 0xC0) == 0; });
    return stalled;
}

template <int K, bool Runs, bool Noting>
unsigned HuffmanDecoder::DecodeLanes(Cursor* cursors, const std::uint64_t* stopBits, const Notes* notes,
                                     int* noted) const
{
    static_assert(K >= 1 && K <= 4 && (K == 1 || !Runs) && !(Runs && Noting));
    if constexpr (Runs)
        return DecodeRuns(cursors[0], stopBits[0]);
    // The lanes are separate variables, not an array, so that they stay in registers.
    Lane lane0 = Prime(cursors[0]);
    Lane lane1 = K > 1 ? Prime(cursors[1]) : Lane {};
    Lane lane2 = K > 2 ? Prime(cursors[2]) : Lane {};
    Lane lane3 = K > 3 ? Prime(cursors[3]) : Lane {};
    const std::uint8_t* limits[K];
    for (int k = 0; k < K; ++k)
        limits[k] = m_pSource + (stopBits[k] >> 3);
    // The tables are read once here: the lookups' stores through the output may alias anything.
    const std::uint32_t* const wide = m_Tree.m_nWideTable.data();

    for (;;) {
        const bool stalled = StepLanes<K, Noting>(lane0, lane1, lane2, lane3, wide, notes, noted);
        ForEachLane<K>(lane0, lane1, lane2, lane3, [](Lane& lane, int) { Reload(lane); });
        if (stalled) [[unlikely]] {
            // Reloaded, each lane has the bits of its next code: a stalled lane looks up the
            // same entry again, and a lane that meets a long code only now finishes it a round
            // early, which changes nothing.
            ForEachLane<K>(lane0, lane1, lane2, lane3, [&](Lane& lane, int) {
                constexpr std::uint64_t kWideMask = (std::uint64_t(1) << CHuffmanTree::kWideTableBits) - 1;
                const std::uint32_t entry = wide[lane.m_nBits & kWideMask];
                if ((entry & 0xC0) == 0)
                    lane = Prime({FinishLongCode(Position(lane), (entry >> 8) & 0xFFFF, CHuffmanTree::kWideTableBits,
                                                 lane.m_pOut),
                                  lane.m_pOut + 1});
            });
        }
        bool near = false;
        ForEachLane<K>(lane0, lane1, lane2, lane3, [&](Lane& lane, int k) { near |= lane.m_pNext >= limits[k]; });
        if (near || (Noting && *noted + kLookupsPerLoad > kSyncLookups))
            break;
    }
    unsigned done = 0;
    ForEachLane<K>(lane0, lane1, lane2, lane3, [&](Lane& lane, int k) {
        cursors[k] = {Position(lane), lane.m_pOut};
        if (lane.m_pNext >= limits[k])
            done |= 1u << k;
    });
    return done;
}
