#include "formats/CHuffmanTree.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

std::uint64_t ByteSwap64(std::uint64_t value)
{
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) {
        swapped = (swapped << 8) | (value & 0xFF);
        value >>= 8;
    }
    return swapped;
}

/// Eight bytes as one value, first byte lowest: bit n of the result is bit n % 8 of byte n / 8,
/// which is the order the codes are packed in.
std::uint64_t Load64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = ByteSwap64(value);
    return value;
}

void Store64(std::uint8_t* bytes, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = ByteSwap64(value);
    std::memcpy(bytes, &value, sizeof value);
}

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
        Store64(m_pOut, m_nBits);
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

} // namespace

CHuffmanTree::CNode::~CNode() = default;

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
    }
}

void CHuffmanTree::BuildDecodeTable()
{
    const CNode* root = &m_Nodes[kRootIndex];
    m_nRunValue = root->m_pChild0->IsLeaf() ? root->m_pChild0->m_nIndex : -1;
    for (std::uint32_t lookahead = 0; lookahead < (1u << kDecodeTableBits); ++lookahead) {
        int used = 0;
        int symbols = 0;
        std::uint64_t values = 0;
        const CNode* unfinished = nullptr;
        while (symbols < kMaxSymbolsPerEntry) {
            const CNode* node = root;
            int position = used;
            while (!node->IsLeaf() && position < kDecodeTableBits) {
                node = ((lookahead >> position) & 1) != 0 ? node->m_pChild1 : node->m_pChild0;
                ++position;
            }
            if (!node->IsLeaf()) {
                if (symbols == 0)
                    unfinished = node; // all kDecodeTableBits bits went into the first code
                break;
            }
            values |= std::uint64_t(node->m_nIndex) << (8 * symbols);
            ++symbols;
            used = position;
        }
        std::uint64_t entry;
        if (symbols == 0)
            entry = std::uint64_t(kDecodeTableBits) | (std::uint64_t(unfinished->m_nIndex) << 16);
        else
            entry = std::uint64_t(used) | (std::uint64_t(symbols) << 8) | (values << 16);
        m_nDecodeTable[lookahead] = entry;
    }
}

std::uint32_t CHuffmanTree::Encode(const std::uint8_t* source, std::uint32_t length, std::uint8_t* destination) const
{
    // The bit buffer lives in plain locals so that it stays in registers in the bulk loop; the
    // rare codes that do not fit a table entry go through a BitSink copy.
    std::uint8_t* out = destination;
    std::uint64_t bits = 0;
    unsigned pending = 0;
    const std::uint8_t* in = source;
    const std::uint8_t* const end = source + length;

    auto putOne = [this, &out, &bits, &pending](std::uint8_t value, auto wordFlush) {
        BitSink sink {out, bits, pending};
        if (m_nCodeLength[value] <= kMaxTableCodeLength) {
            sink.Put(m_nCode[value], m_nCodeLength[value]);
            if constexpr (decltype(wordFlush)::value)
                sink.FlushWord();
            else
                sink.FlushBytes();
        } else {
            sink = PutLongCode<decltype(wordFlush)::value>(*this, value, sink);
        }
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
    constexpr std::uint32_t kTailCodes = 72;
    if (length > kTailCodes) {
        const std::uint8_t* const bulkEnd = end - kTailCodes;
        // Four codes of at most 56 bits together go into the buffer at once; a group with a
        // longer total (a rare code, or a tree with very long codes) goes code by code.
        auto putGroup = [&](const std::uint8_t* group) {
            const unsigned length0 = m_nCodeLength[group[0]];
            const unsigned length1 = m_nCodeLength[group[1]];
            const unsigned length2 = m_nCodeLength[group[2]];
            const unsigned length3 = m_nCodeLength[group[3]];
            const unsigned total = length0 + length1 + length2 + length3;
            if (total <= kMaxTableCodeLength) {
                // The group is assembled apart from the buffer and shifted in once, so that the
                // loop carries only short chains of operations from one group to the next.
                const std::uint64_t assembled = m_nCode[group[0]] | (m_nCode[group[1]] << length0)
                    | ((m_nCode[group[2]] << (length0 + length1)) | (m_nCode[group[3]] << (length0 + length1 + length2)));
                bits |= assembled << pending; // at most 7 + 56 bits: the buffer never overflows
                pending += total;
                Store64(out, bits);
                out += pending >> 3;
                bits >>= pending & ~7u;
                pending &= 7;
            } else {
                for (int i = 0; i < 4; ++i)
                    putOne(group[i], std::true_type {});
            }
        };
        while (bulkEnd - in >= 8) {
            putGroup(in);
            putGroup(in + 4);
            in += 8;
        }
        while (in < bulkEnd)
            putOne(*in++, std::true_type {});
    }
    for (; in < end; ++in)
        putOne(*in, std::false_type {});
    if (pending != 0) {
        const auto mask = static_cast<std::uint8_t>((1u << pending) - 1);
        *out = static_cast<std::uint8_t>((*out & ~mask) | (bits & mask));
        ++out;
    }
    return static_cast<std::uint32_t>(out - destination);
}

std::uint32_t CHuffmanTree::Decode(const std::uint8_t* source, std::uint32_t sourceLength, std::uint32_t count,
                                   std::uint8_t* destination, bool* exhausted) const
{
    const std::uint64_t bitEnd = std::uint64_t(sourceLength) * 8;
    std::uint64_t bitPos = 0;
    std::uint8_t* out = destination;
    std::uint8_t* const end = destination + count;

    // Finishes a code bit by bit from node, checking every bit against the compressed length.
    auto walk = [&](const CNode* node) {
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

    constexpr std::uint64_t kLookaheadMask = (std::uint64_t(1) << kDecodeTableBits) - 1;
    constexpr int kLookupsPerLoad = 4; // 4 x 11 bits fit in the 49 or more bits of a refill
    static_assert(kLookupsPerLoad * kDecodeTableBits <= 49);
    // A run of the one-bit code 0 is taken when it is at least this long, up to 56 values at once.
    constexpr unsigned kMinRun = 16;
    constexpr unsigned kMaxRun = 56;
    // Room for every value one pass of the loop can emit plus the scratch bytes of its stores:
    // 56 bytes of a run, or four lookups of up to 6 values with an 8-byte store each.
    constexpr std::ptrdiff_t kFastRoom = 64;
    static_assert(kFastRoom >= kLookupsPerLoad * kMaxSymbolsPerEntry + 8 && kFastRoom >= std::ptrdiff_t(kMaxRun));
    const bool runs = m_nRunValue >= 0;
    const auto runByte = static_cast<std::uint8_t>(m_nRunValue);

    const std::uint8_t* const sourceEnd = source + sourceLength;
    bool ranOut = false;
    while (out != end && !ranOut) {
        if (end - out < kFastRoom || (bitPos >> 3) + 8 > sourceLength) {
            ranOut = !walk(&m_Nodes[kRootIndex]); // the last few values or compressed bytes
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
            bits |= Load64(next) << count;
            next += (63 - count) >> 3;
            count |= 56; // 56 to 63 bits now
        };
        refill();
        bits >>= bitPos & 7;
        count -= static_cast<unsigned>(bitPos & 7); // at least 49, enough for the lookups
        const CNode* unfinished = nullptr;
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
                    const std::uint64_t entry = m_nDecodeTable[bits & kLookaheadMask];
                    if ((entry & 0xFF00) == 0) {
                        bits >>= kDecodeTableBits;
                        count -= kDecodeTableBits;
                        unfinished = &m_Nodes[(entry >> 16) & 0xFFFF];
                        break;
                    }
                    Store64(out, entry >> 16);
                    out += (entry >> 8) & 0xFF;
                    bits >>= entry & 63;
                    count -= static_cast<unsigned>(entry & 0xFF);
                }
            }
            if (unfinished != nullptr || end - out < kFastRoom || sourceEnd - next < 8)
                break;
            refill();
        }
        bitPos = std::uint64_t(next - source) * 8 - count;
        if (unfinished != nullptr)
            ranOut = !walk(unfinished);
    }
    const auto decoded = static_cast<std::uint32_t>(out - destination);
    if (exhausted != nullptr)
        *exhausted = decoded < count;
    return decoded;
}
