#include "formats/HuffmanReference.h"

#include "formats/CHuffmanTree.h"

std::uint32_t HuffmanEncodeReference(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t length,
                                     std::uint8_t* destination)
{
    std::uint64_t bitPos = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        // The climb notes the code back to front, so it is staged and written reversed.
        std::uint8_t staged[CHuffmanTree::kMaxCodeLength];
        int depth = 0;
        for (const CHuffmanTree::CNode* node = &tree.Node(source[i]); node->m_pParent != nullptr;
             node = node->m_pParent)
            staged[depth++] = node == node->m_pParent->m_pChild0 ? 0 : 1;
        while (depth > 0) {
            const auto bit = static_cast<unsigned>(staged[--depth]);
            std::uint8_t& byte = destination[bitPos >> 3];
            const unsigned shift = bitPos & 7;
            byte = static_cast<std::uint8_t>((byte & ~(1u << shift)) | (bit << shift));
            ++bitPos;
        }
    }
    return static_cast<std::uint32_t>((bitPos + 7) >> 3);
}

std::uint32_t HuffmanDecodeReference(const CHuffmanTree& tree, const std::uint8_t* source, std::uint32_t sourceLength,
                                     std::uint32_t count, std::uint8_t* destination, bool* exhausted)
{
    const std::uint64_t bitEnd = std::uint64_t(sourceLength) * 8;
    std::uint64_t bitPos = 0;
    std::uint32_t decoded = 0;
    for (; decoded < count; ++decoded) {
        const CHuffmanTree::CNode* node = &tree.Root();
        while (node->m_pChild0 != nullptr && bitPos < bitEnd) {
            const bool bit = ((source[bitPos >> 3] >> (bitPos & 7)) & 1) != 0;
            node = bit ? node->m_pChild1 : node->m_pChild0;
            ++bitPos;
        }
        if (node->m_pChild0 != nullptr)
            break; // the compressed bytes ended inside a code
        destination[decoded] = static_cast<std::uint8_t>(node->m_nIndex);
    }
    if (exhausted != nullptr)
        *exhausted = decoded < count;
    return decoded;
}
