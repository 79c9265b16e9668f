#include "formats/CHuffmanTree.h"

#include "formats/HuffmanBits.h"
#include "formats/HuffmanDecoder.h"
#include "platform/WorkerPool.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

/// The pending output bits of the encoder: the lowest m_nPending bits of m_nBits belong at bit 0
/// of *m_pOut onward. Between codes fewer than 8 bits are pending.
struct BitSink {
    std::uint8_t* m_pOut;
    std::uint64_t m_nBits = 0;
    unsigned m_nPending = 0;

    /// Adds count bits (at most 56); with at most 7 already pending they always fit.
    void Put(std::uint64_t bits, unsigned count)
    {
        m_nBits |= bits << m_nPending;
        m_nPending += count;
    }
    /// Writes the complete bytes with one 8-byte store. The bytes of the store beyond the
    /// complete ones receive scratch bits that later stores overwrite, so this is only allowed
    /// while enough output is still to come to cover them (see Encode).
    void FlushWord()
    {
        HuffmanStore64(m_pOut, m_nBits);
        m_pOut += m_nPending >> 3;
        m_nBits >>= m_nPending & ~7u;
        m_nPending &= 7;
    }
    /// Writes the complete bytes one by one, touching nothing after them.
    void FlushBytes()
    {
        while (m_nPending >= 8) {
            *m_pOut++ = static_cast<std::uint8_t>(m_nBits);
            m_nBits >>= 8;
            m_nPending -= 8;
        }
    }
};

/// Writes a code too long for the encoder table: climbs from the leaf to the root, then puts the
/// noted bits out root first in pieces the bit buffer can take. Takes and returns the sink by
/// value so that the encoder's own sink never leaves the registers.
template <bool WordFlush>
BitSink PutLongCode(const CHuffmanTree& tree, std::uint8_t value, BitSink sink)
{
    std::uint8_t climbed[CHuffmanTree::kMaxCodeLength];
    int depth = 0;
    for (const CHuffmanTree::CNode* node = &tree.Node(value); node->m_pParent != nullptr; node = node->m_pParent)
        climbed[depth++] = node == node->m_pParent->m_pChild1 ? 1 : 0;
    while (depth > 0) {
        const int take = std::min(depth, 56);
        std::uint64_t piece = 0;
        for (int i = 0; i < take; ++i)
            piece |= std::uint64_t(climbed[depth - 1 - i]) << i;
        sink.Put(piece, static_cast<unsigned>(take));
        if constexpr (WordFlush)
            sink.FlushWord();
        else
            sink.FlushBytes();
        depth -= take;
    }
    return sink;
}

/// The code of value, root first, one bit a byte; returns its length.
int ClimbedCode(const CHuffmanTree& tree, std::uint8_t value, std::uint8_t (&code)[CHuffmanTree::kMaxCodeLength])
{
    std::uint8_t climbed[CHuffmanTree::kMaxCodeLength];
    int depth = 0;
    for (const CHuffmanTree::CNode* node = &tree.Node(value); node->m_pParent != nullptr; node = node->m_pParent)
        climbed[depth++] = node == node->m_pParent->m_pChild1 ? 1 : 0;
    for (int i = 0; i < depth; ++i)
        code[i] = climbed[depth - 1 - i];
    return depth;
}

/// Bits first to first + count - 1 of the code of value (count at most 56), first in bit 0.
std::uint64_t CodeBits(const CHuffmanTree& tree, std::uint8_t value, int first, int count)
{
    std::uint8_t code[CHuffmanTree::kMaxCodeLength];
    ClimbedCode(tree, value, code);
    std::uint64_t bits = 0;
    for (int i = 0; i < count; ++i)
        bits |= std::uint64_t(code[first + i]) << i;
    return bits;
}

/// The first count bits (at most 7) of the codes of the bytes from source on.
std::uint64_t FirstCodeBits(const CHuffmanTree& tree, const std::uint8_t* source, int count)
{
    std::uint64_t bits = 0;
    for (int have = 0; have < count; ++source) {
        const int take = std::min(tree.CodeLength(*source), count - have);
        bits |= CodeBits(tree, *source, 0, take) << have;
        have += take;
    }
    return bits;
}

/// Bits of the codes of the bytes from source to end. pairLengths holds the code lengths of
/// two bytes together (first byte in the low 8 bits of the index), which halves the lookups;
/// lengths those of single bytes.
std::uint64_t CodedBits(const std::uint8_t* source, const std::uint8_t* end, const std::uint16_t* pairLengths,
                        const std::uint8_t* lengths)
{
    std::uint64_t sums[4] = {};
    for (; end - source >= 8; source += 8) {
        const std::uint64_t word = HuffmanLoad64(source);
        sums[0] += pairLengths[word & 0xFFFF];
        sums[1] += pairLengths[(word >> 16) & 0xFFFF];
        sums[2] += pairLengths[(word >> 32) & 0xFFFF];
        sums[3] += pairLengths[word >> 48];
    }
    for (; source < end; ++source)
        sums[0] += lengths[*source];
    return sums[0] + sums[1] + sums[2] + sums[3];
}

/// Adds the byte counts of source to end to counts. Four tables take turns, so that a run of
/// equal bytes does not make every increment wait for the one before.
void CountInto(const std::uint8_t* source, const std::uint8_t* end, std::uint32_t* counts)
{
    std::uint32_t tables[4][CHuffmanTree::kLeafCount] = {};
    for (; end - source >= 8; source += 8) {
        const std::uint64_t word = HuffmanLoad64(source);
        ++tables[0][word & 0xFF];
        ++tables[1][(word >> 8) & 0xFF];
        ++tables[2][(word >> 16) & 0xFF];
        ++tables[3][(word >> 24) & 0xFF];
        ++tables[0][(word >> 32) & 0xFF];
        ++tables[1][(word >> 40) & 0xFF];
        ++tables[2][(word >> 48) & 0xFF];
        ++tables[3][word >> 56];
    }
    for (; source < end; ++source)
        ++tables[0][*source];
    for (int v = 0; v < CHuffmanTree::kLeafCount; ++v)
        counts[v] += tables[0][v] + tables[1][v] + tables[2][v] + tables[3][v];
}

int ThreadsOf(int setting)
{
    return setting > 0 ? setting : WorkerPool::Shared().Threads();
}

/// A payload is encoded or counted on several threads from this many bytes a thread on.
constexpr std::uint32_t kMinBytesPerThread = std::uint32_t(4) << 20;

/// Writes the rest of the codes from in on whose first skip bits the slice before wrote. Returns
/// the first byte whose code the slice writes whole.
const std::uint8_t* PutSkippedCodes(const CHuffmanTree& tree, const std::uint8_t* in, const std::uint8_t* end, int skip,
                                    BitSink& sink)
{
    for (; skip > 0 && in < end; ++in) {
        const int length = tree.CodeLength(*in);
        if (length <= skip) {
            skip -= length;
            continue;
        }
        for (int first = skip; first < length; first += 56) {
            const int take = std::min(length - first, 56);
            sink.Put(CodeBits(tree, *in, first, take), static_cast<unsigned>(take));
            sink.FlushBytes();
        }
        skip = 0;
    }
    return in;
}

/// Puts carry, carryBits long, out after a slice's codes, then the last partly filled byte, the
/// bits above it keeping what the destination held. Returns the end of what was written.
std::uint8_t* FinishSlice(BitSink sink, std::uint64_t carry, unsigned carryBits)
{
    if (carryBits != 0) {
        sink.Put(carry, carryBits);
        sink.FlushBytes();
    }
    if (sink.m_nPending != 0) {
        const auto mask = static_cast<std::uint8_t>((1u << sink.m_nPending) - 1);
        *sink.m_pOut = static_cast<std::uint8_t>((*sink.m_pOut & ~mask) | (sink.m_nBits & mask));
        ++sink.m_pOut;
    }
    return sink.m_pOut;
}

} // namespace

CHuffmanTree::CHuffmanTree() = default;

CHuffmanTree::~CHuffmanTree() = default;

void CHuffmanTree::BuildTree(const std::uint32_t counts[kLeafCount])
{
    std::copy(counts, counts + kLeafCount, m_nCounts.begin());
    for (int i = 0; i < kNodeCount; ++i) {
        CNode& node = m_Nodes[static_cast<std::size_t>(i)];
        node.m_nIndex = i;
        node.m_pChild0 = node.m_pChild1 = node.m_pParent = nullptr;
        node.m_bActive = i < kLeafCount;
        node.m_nCount = i < kLeafCount ? counts[i] : 0;
    }

    for (int step = 0; step < kLeafCount - 1; ++step) {
        const int created = kLeafCount + step;
        // Pick the two active nodes with the smallest (count, index) pairs. Strict less-than keeps
        // the earlier node among equal counts. Nodes from `created` on do not exist yet and are
        // inactive, so stopping there finds the same pair as scanning all 511.
        CNode* first = nullptr;
        CNode* second = nullptr;
        for (int i = 0; i < created; ++i) {
            CNode* node = &m_Nodes[static_cast<std::size_t>(i)];
            if (!node->m_bActive)
                continue;
            if (first == nullptr) {
                first = node;
            } else if (node->m_nCount < first->m_nCount) {
                second = first;
                first = node;
            } else if (second == nullptr || node->m_nCount < second->m_nCount) {
                second = node;
            }
        }
        CNode& parent = m_Nodes[static_cast<std::size_t>(created)];
        CNode* lower = first->m_nIndex < second->m_nIndex ? first : second;
        CNode* higher = lower == first ? second : first;
        parent.m_nCount = first->m_nCount + second->m_nCount; // 32-bit: a corrupt count table wraps
        parent.m_pChild0 = lower;
        parent.m_pChild1 = higher;
        lower->m_pParent = higher->m_pParent = &parent;
        lower->m_bActive = higher->m_bActive = false;
        parent.m_bActive = true;
    }

    BuildEncodeTable();
    BuildDecodeTable();
}

void CHuffmanTree::BuildEncodeTable()
{
    m_nMaxCodeLength = 0;
    for (int value = 0; value < kLeafCount; ++value) {
        // Climbing notes the last bit of the code first; shifting each one in at the bottom moves
        // the earlier ones up, so the root's bit ends up in bit 0, the first to go out.
        std::uint64_t code = 0;
        int length = 0;
        for (const CNode* node = &m_Nodes[static_cast<std::size_t>(value)]; node->m_pParent != nullptr;
             node = node->m_pParent) {
            const std::uint64_t bit = node == node->m_pParent->m_pChild1 ? 1 : 0;
            code = (code << 1) | bit;
            ++length;
        }
        m_nCodeLength[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(length);
        m_nCode[static_cast<std::size_t>(value)] = length <= kMaxTableCodeLength ? code : 0; // longer: climbed
        m_nMaxCodeLength = std::max(m_nMaxCodeLength, length);
    }
}

void CHuffmanTree::BuildDecodeTable()
{
    const CNode* root = &m_Nodes[kRootIndex];
    m_nRunValue = root->m_pChild0->IsLeaf() ? root->m_pChild0->m_nIndex : -1;
    // The codes that start a lookahead of `bits` bits: how many whole codes (up to maxSymbols)
    // and their values, the bits they use, or the inner node a longer first code reaches.
    struct Prefix {
        int m_nUsed = 0;
        int m_nSymbols = 0;
        std::uint64_t m_nValues = 0;
        const CNode* m_pUnfinished = nullptr;
    };
    auto decodePrefix = [root](std::uint32_t lookahead, int bits, int maxSymbols) {
        Prefix prefix;
        while (prefix.m_nSymbols < maxSymbols) {
            const CNode* node = root;
            int position = prefix.m_nUsed;
            while (!node->IsLeaf() && position < bits) {
                node = ((lookahead >> position) & 1) != 0 ? node->m_pChild1 : node->m_pChild0;
                ++position;
            }
            if (!node->IsLeaf()) {
                if (prefix.m_nSymbols == 0)
                    prefix.m_pUnfinished = node; // all the lookahead went into the first code
                break;
            }
            prefix.m_nValues |= std::uint64_t(node->m_nIndex) << (8 * prefix.m_nSymbols);
            ++prefix.m_nSymbols;
            prefix.m_nUsed = position;
        }
        return prefix;
    };
    for (std::uint32_t lookahead = 0; lookahead < (1u << kDecodeTableBits); ++lookahead) {
        const Prefix prefix = decodePrefix(lookahead, kDecodeTableBits, kMaxSymbolsPerEntry);
        m_nDecodeTable[lookahead] = prefix.m_nSymbols == 0
            ? std::uint64_t(prefix.m_pUnfinished->m_nIndex) << 16
            : std::uint64_t(prefix.m_nUsed) | (std::uint64_t(prefix.m_nSymbols) << 8) | (prefix.m_nValues << 16);
    }
    for (std::uint32_t lookahead = 0; lookahead < (1u << kWideTableBits); ++lookahead) {
        const Prefix prefix = decodePrefix(lookahead, kWideTableBits, kMaxSymbolsPerWideEntry);
        m_nWideTable[lookahead] = prefix.m_nSymbols == 0
            ? std::uint32_t(prefix.m_pUnfinished->m_nIndex) << 8
            : std::uint32_t(prefix.m_nUsed) | (std::uint32_t(prefix.m_nSymbols) << 6) |
                  (static_cast<std::uint32_t>(prefix.m_nValues) << 8);
    }
}

void CHuffmanTree::CountBytes(const std::uint8_t* source, std::uint32_t length, std::uint32_t counts[kLeafCount],
                              int threads, SliceCounts* slices)
{
    std::fill(counts, counts + kLeafCount, 0u);
    std::uint32_t sliceBytes = slices != nullptr ? slices->m_nSliceBytes : 0;
    std::size_t parts = 1;
    if (sliceBytes != 0) {
        parts = std::max<std::size_t>(1, length / sliceBytes);
    } else {
        parts = std::size_t(std::max(1, std::min<int>(ThreadsOf(threads), static_cast<int>(length / kMinBytesPerThread))));
        sliceBytes = length / std::uint32_t(parts);
    }
    if (parts == 1 && slices == nullptr) {
        CountInto(source, source + length, counts);
        return;
    }
    // The last part takes the rest, as the last slice of the encoder does.
    std::vector<std::array<std::uint32_t, kLeafCount>> ownCounts;
    std::vector<std::array<std::uint32_t, kLeafCount>>& partCounts = slices != nullptr ? slices->m_Counts : ownCounts;
    partCounts.assign(parts, {});
    const int tasks = static_cast<int>(std::min<std::size_t>(std::size_t(ThreadsOf(threads)), parts));
    WorkerPool::Shared().Run(tasks, [&](int task) {
        for (std::size_t part = std::size_t(task); part < parts; part += std::size_t(tasks)) {
            const std::uint8_t* end = part + 1 == parts ? source + length : source + std::uint64_t(part + 1) * sliceBytes;
            CountInto(source + std::uint64_t(part) * sliceBytes, end, partCounts[part].data());
        }
    });
    if (slices != nullptr)
        slices->m_nSliceBytes = sliceBytes;
    for (const auto& own : partCounts)
        for (int v = 0; v < kLeafCount; ++v)
            counts[v] += own[static_cast<std::size_t>(v)];
}

std::uint64_t CHuffmanTree::EncodedBits(const std::uint32_t counts[kLeafCount]) const
{
    std::uint64_t bits = 0;
    for (int v = 0; v < kLeafCount; ++v)
        bits += std::uint64_t(counts[v]) * m_nCodeLength[static_cast<std::size_t>(v)];
    return bits;
}

std::uint32_t CHuffmanTree::Encode(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination,
                                   const SliceCounts* counted) const
{
    const int threads = ThreadsOf(m_Parallelism.m_nThreads);
    if (threads > 1 && counted != nullptr && counted->m_Counts.size() >= 2 && counted->m_nSliceBytes >= 8 &&
        std::uint64_t(counted->m_nSliceBytes) * counted->m_Counts.size() <= length) {
        std::uint64_t counts = 0;
        for (const auto& slice : counted->m_Counts)
            for (std::uint32_t count : slice)
                counts += count;
        if (counts == length) // counts of this payload, not of another one
            return EncodeInSlices(source, length, destination, threads, counted->m_nSliceBytes, counted);
    }
    std::uint32_t sliceBytes = m_Parallelism.m_nSliceBytes;
    if (sliceBytes == 0 && threads > 1 && length / std::uint32_t(threads) >= kMinBytesPerThread)
        sliceBytes = length / std::uint32_t(threads);
    // A slice hands its first bits (at most 7) to the slice before it, so it needs 8 codes or more.
    if (threads > 1 && sliceBytes >= 8 && length / sliceBytes >= 2)
        return EncodeInSlices(source, length, destination, threads, sliceBytes, nullptr);
    return static_cast<std::uint32_t>(EncodeSlice(source, source + length, destination, 0, 0, 0) - destination);
}

std::uint32_t CHuffmanTree::EncodeInSlices(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination,
                                           int threads, std::uint32_t sliceBytes, const SliceCounts* counted) const
{
    // The code lengths give each slice's bits before a bit is written; their sums place each
    // slice at its bit in the output.
    // The last slice takes the rest too, so that none is shorter than sliceBytes.
    const std::size_t slices = counted != nullptr ? counted->m_Counts.size() : length / sliceBytes;
    std::vector<std::uint64_t> firstBit;
    if (counted != nullptr) {
        // The writer counted the bytes slice by slice to build the tree; the counts give the
        // bits at once, where a pass over the payload would cost a third of the encoding.
        firstBit = SliceFirstBits(*counted);
    } else {
        firstBit.assign(slices + 1, 0);
        auto sliceBegin = [&](std::size_t slice) {
            return slice == slices ? source + length : source + std::uint64_t(slice) * sliceBytes;
        };
        std::vector<std::uint16_t> pairLengths(std::size_t(1) << 16);
        for (std::size_t pair = 0; pair < pairLengths.size(); ++pair)
            pairLengths[pair] = static_cast<std::uint16_t>(m_nCodeLength[pair & 0xFF] + m_nCodeLength[pair >> 8]);
        const int tasks = static_cast<int>(std::min<std::size_t>(std::size_t(threads), slices));
        WorkerPool::Shared().Run(tasks, [&](int task) {
            for (std::size_t slice = std::size_t(task); slice < slices; slice += std::size_t(tasks))
                firstBit[slice + 1] = CodedBits(sliceBegin(slice), sliceBegin(slice + 1), pairLengths.data(),
                                                m_nCodeLength.data());
        });
        for (std::size_t slice = 0; slice < slices; ++slice)
            firstBit[slice + 1] += firstBit[slice];
    }
    EncodeSlicesOn(threads, source, length, sliceBytes, slices, firstBit, 0, slices, destination);
    return static_cast<std::uint32_t>((firstBit[slices] + 7) / 8);
}

std::vector<std::uint64_t> CHuffmanTree::SliceFirstBits(const SliceCounts& counted) const
{
    std::vector<std::uint64_t> firstBit(counted.m_Counts.size() + 1, 0);
    for (std::size_t slice = 0; slice < counted.m_Counts.size(); ++slice)
        firstBit[slice + 1] = firstBit[slice] + EncodedBits(counted.m_Counts[slice].data());
    return firstBit;
}

void CHuffmanTree::EncodeSlices(const std::uint8_t* source, std::uint32_t length, const SliceCounts& counted,
                                const std::vector<std::uint64_t>& firstBits, std::size_t first, std::size_t last,
                                std::uint8_t* destination) const
{
    EncodeSlicesOn(ThreadsOf(m_Parallelism.m_nThreads), source, length, counted.m_nSliceBytes, counted.m_Counts.size(),
                   firstBits, first, last, destination);
}

void CHuffmanTree::EncodeSlicesOn(int threads, const std::uint8_t* source, std::uint32_t length,
                                  std::uint32_t sliceBytes, std::size_t slices,
                                  const std::vector<std::uint64_t>& firstBit, std::size_t first, std::size_t last,
                                  std::uint8_t* destination) const
{
    // A slice that starts inside a byte leaves the bits of that byte to the slice before it, so
    // every slice writes whole bytes of its own.
    auto sliceBegin = [&](std::size_t slice) {
        return slice == slices ? source + length : source + std::uint64_t(slice) * sliceBytes;
    };
    auto skipOf = [&](std::size_t slice) { return static_cast<unsigned>((8 - (firstBit[slice] & 7)) & 7); };
    const std::uint64_t base = (firstBit[first] + 7) / 8;
    const std::size_t count = last - first;
    const int tasks = static_cast<int>(std::min<std::size_t>(std::size_t(std::max(threads, 1)), count));
    auto work = [&](int task) {
        for (std::size_t slice = first + std::size_t(task); slice < last; slice += std::size_t(tasks)) {
            const unsigned carryBits = slice + 1 < slices ? skipOf(slice + 1) : 0;
            const std::uint64_t carry = carryBits != 0 ? FirstCodeBits(*this, sliceBegin(slice + 1), int(carryBits)) : 0;
            EncodeSlice(sliceBegin(slice), sliceBegin(slice + 1), destination + ((firstBit[slice] + 7) / 8 - base),
                        skipOf(slice), carry, carryBits);
        }
    };
    if (tasks <= 1)
        work(0);
    else
        WorkerPool::Shared().Run(tasks, work);
}

std::uint8_t* CHuffmanTree::EncodeSlice(const std::uint8_t* source, const std::uint8_t* end, std::uint8_t* destination,
                                        unsigned skipBits, std::uint64_t carry, unsigned carryBits) const
{
    BitSink start {destination};
    const std::uint8_t* in = PutSkippedCodes(*this, source, end, static_cast<int>(skipBits), start);
    // The bit buffer, its bit count and the output pointer live in plain locals whose address is
    // never taken, so that they stay in registers through the bulk loop at any optimisation
    // level; they are handed back to a BitSink once, at the end of the slice.
    std::uint8_t* out = start.m_pOut;
    std::uint64_t bits = start.m_nBits;
    unsigned pending = start.m_nPending;

    // One code the slow way. It takes and returns the buffer by value: a reference to the locals
    // would put them in memory for the whole loop wherever the compiler keeps this out of line.
    // The steps that do use the locals are forced inline (the GNU spelling, which applies to a
    // lambda), for the same reason.
    auto putOne = [this](BitSink sink, std::uint8_t value, auto wordFlush) {
        if (m_nCodeLength[value] <= kMaxTableCodeLength) {
            sink.Put(m_nCode[value], m_nCodeLength[value]);
            if constexpr (decltype(wordFlush)::value)
                sink.FlushWord();
            else
                sink.FlushBytes();
            return sink;
        }
        return PutLongCode<decltype(wordFlush)::value>(*this, value, sink);
    };
    auto putOneHere = [&](std::uint8_t value, auto wordFlush) __attribute__((always_inline)) {
        const BitSink sink = putOne(BitSink {out, bits, pending}, value, wordFlush);
        out = sink.m_pOut;
        bits = sink.m_nBits;
        pending = sink.m_nPending;
    };

    // An 8-byte store of the bulk loop covers the first incomplete byte and the 7 after it with
    // scratch bits. All 8 are written in full later as long as at least 64 bits go out from the
    // store's position on: its own pending bits (at least one fresh code) plus the codes still
    // to come. So the bulk loop leaves the last 72 codes (one bit or more each; 63 would do) to
    // go out byte by byte. That keeps every write inside the encoded size and leaves the unused
    // top bits of the last byte as they were.
    constexpr std::ptrdiff_t kTailCodes = 72;
    if (end - in > kTailCodes) {
        const std::uint8_t* const bulkEnd = end - kTailCodes;
        // Four codes of at most 56 bits together go into the buffer at once; a group with a
        // longer total (a rare code, or a tree with very long codes) goes code by code. -O2
        // called this step rather than inlining it, and the buffer went through memory at every group.
        auto putGroup = [&](const std::uint8_t* group) __attribute__((always_inline)) {
            const unsigned length0 = m_nCodeLength[group[0]];
            const unsigned length1 = m_nCodeLength[group[1]];
            const unsigned length2 = m_nCodeLength[group[2]];
            const unsigned length3 = m_nCodeLength[group[3]];
            const unsigned total = length0 + length1 + length2 + length3;
            if (total <= kMaxTableCodeLength) [[likely]] {
                // The group is assembled apart from the buffer and shifted in once, so that the
                // loop carries only short chains of operations from one group to the next.
                const std::uint64_t assembled = m_nCode[group[0]] | (m_nCode[group[1]] << length0)
                    | ((m_nCode[group[2]] << (length0 + length1)) | (m_nCode[group[3]] << (length0 + length1 + length2)));
                bits |= assembled << pending; // at most 7 + 56 bits: the buffer never overflows
                pending += total;
                HuffmanStore64(out, bits);
                out += pending >> 3;
                bits >>= pending & ~7u;
                pending &= 7;
            } else {
                for (int i = 0; i < 4; ++i)
                    putOneHere(group[i], std::true_type {});
            }
        };
        while (bulkEnd - in >= 8) {
            putGroup(in);
            putGroup(in + 4);
            in += 8;
        }
        while (in < bulkEnd)
            putOneHere(*in++, std::true_type {});
    }
    for (; in < end; ++in)
        putOneHere(*in, std::false_type {});
    return FinishSlice({out, bits, pending}, carry, carryBits);
}

std::uint32_t CHuffmanTree::Decode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint32_t count,
                                   std::uint8_t* destination, bool* exhausted) const
{
    return HuffmanDecoder(*this, source, sourceLength).Decode(count, destination, exhausted);
}
