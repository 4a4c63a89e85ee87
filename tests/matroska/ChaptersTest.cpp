// Chapters, attachments and signatures: nothing reads them, but each class
// parses its element as far as its table of children goes.
#include <gtest/gtest.h>

#include <tuple>

#include "ParseElement.h"
#include "matroska/EBMLChapters.h"

using namespace ebml;

TEST(Chapters, DormantElementsAreReadUpToTheFirstChildTheyDoNotHandle)
{
    // Each element is of unknown size, so its parse goes on only through the
    // children its class handles and stops, unread, at ChapterTimeStart (91,
    // three bytes), which none of them handles.
    const Bytes stop = UInt(0x91, 0);
    EBMLChapters chapters;
    EBMLEditionEntry edition;
    EBMLChapterAtom atom;
    EBMLAttachments attachments;
    EBMLSignature signature;
    EBMLSignatureElementList list;
    const std::tuple<EBML*, uint32_t, Bytes> cases[] = {
        {&chapters, 0x1043A770, Master(0x45B9, {UInt(0x45BC, 1)})},
        {&edition, 0x45B9, Cat({UInt(0x45BC, 7), UInt(0x45BD, 0), UInt(0x45DB, 1), Master(0xB6, {}), UInt(0x45DD, 1)})},
        {&atom, 0xB6, Cat({UInt(0x73C4, 2), UInt(0x92, 5), UInt(0x98, 0), UInt(0x4598, 1), Bin(0x6E67, {1}),
                           UInt(0x63C3, 10), UInt(0x6EBC, 1), Master(0x8F, {}), Master(0x80, {Str(0x85, "Intro")})})},
        {&attachments, 0x1941A469, Element(0xEC, {0})},
        {&signature, 0x1B538667,
         Cat({UInt(0x7E8A, 1), Bin(0x7E9A, {1}), Bin(0x7EA5, {2}), Master(0x7E5B, {}), Master(0x7E7B, {})})},
        {&list, 0x7E7B, Cat({Bin(0x6532, {'a'}), Bin(0x6532, {'b', 'c'})})},
    };
    for (const auto& [element, id, children] : cases) {
        Bytes bytes = UnknownSizeElement(id, Cat({children, stop}));
        EXPECT_EQ(ParseElement(bytes, *element), static_cast<int64_t>(bytes.size() - stop.size())) << std::hex << id;
    }
    EXPECT_TRUE(chapters.editions.empty());
    EXPECT_EQ(edition.atoms.size(), 1u);
    EXPECT_EQ(edition.editionFlagOrdered, 1u);
    EXPECT_EQ(atom.chapterTimeEnd, 5u);
    EXPECT_EQ(list.signedElements.size(), 2u);
}
