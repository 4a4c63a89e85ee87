// Chapters, attachments and signatures: stepped over, with the few values
// their classes keep.
#include <gtest/gtest.h>

#include <cstring>

#include "ParseElement.h"
#include "matroska/EBMLChapters.h"

using namespace ebml;

TEST(Chapters, EditionsAreSteppedOverAndNotBuilt)
{
    const Bytes edition = Master(0x45B9, {UInt(0x45BC, 1), Master(0xB6, {UInt(0x73C4, 2)})});
    // Of unknown size, so only the handled children keep the parse going.
    const Bytes chapters = UnknownSizeElement(0x1043A770, Cat({edition, Element(0xEC, {0x00}), edition}));
    // SignatureAlgo (7E 8A) is no child of Chapters: nothing is consumed
    // after the 4 ID and 8 size bytes.
    const Bytes startsUnknown = UnknownSizeElement(0x1043A770, Cat({UInt(0x7E8A, 1), edition}));
    const std::pair<Bytes, size_t> cases[] = {{chapters, chapters.size()}, {startsUnknown, 12}};
    for (const auto& [bytes, end] : cases) {
        EBMLChapters parsed;
        EXPECT_EQ(ParseElement(bytes, parsed), static_cast<int64_t>(end));
        EXPECT_TRUE(parsed.editions.empty());
    }
}

TEST(Chapters, AtomKeepsItsUidAndPassesOverTimeStart)
{
    Bytes bytes = Master(0x45B9, {                               // EditionEntry
        UInt(0x45BC, 0x0A0B),                                    //   EditionUID
        Master(0xB6, {                                           //   ChapterAtom
            UInt(0x73C4, 0x1122),                                //     ChapterUID
            UInt(0x91, 1000),                                    //     ChapterTimeStart
            Master(0x80, {Str(0x85, "Intro")}),                  //     ChapterDisplay
            UInt(0x92, 5000),                                    //     ChapterTimeEnd
        }),
        Element(0xBF, {0x00, 0x00, 0x00, 0x00}),                 //   CRC-32
        Master(0xB6, {UInt(0x73C4, 9)}),
        UInt(0x45DD, 1),                                         //   EditionFlagOrdered
    });
    EBMLEditionEntry edition;
    EXPECT_EQ(ParseElement(bytes, edition), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(edition.editionUID, 0x0A0Bu);
    EXPECT_EQ(edition.editionFlagOrdered, 1u);
    ASSERT_EQ(edition.atoms.size(), 2u);
    EXPECT_EQ(edition.atoms[0]->chapterUID, 0x1122u);
    EXPECT_EQ(edition.atoms[0]->chapterTimeStart, 0u);
    EXPECT_EQ(edition.atoms[0]->chapterTimeEnd, 5000u);
    EXPECT_EQ(edition.atoms[1]->chapterUID, 9u);

    // Without a declared size, ChapterTimeStart ends the atom unread, after
    // 1 ID byte, 8 size bytes and the 4-byte ChapterUID.
    Bytes open = UnknownSizeElement(0xB6, Cat({UInt(0x73C4, 1), UInt(0x91, 0), UInt(0x92, 5)}));
    EBMLChapterAtom atom;
    EXPECT_EQ(ParseElement(open, atom), 13);
    EXPECT_EQ(atom.chapterTimeEnd, 0u);
}

TEST(Chapters, ChapterTrackReadsNothingAndAttachmentsOnlyGlobals)
{
    EBMLChapterTrack chapterTrack;
    EXPECT_EQ(ParseElement(Master(0x8F, {UInt(0x89, 1)}), chapterTrack), 2); // just after its header

    // After Void, AttachedFile ends an Attachments element of unknown size:
    // 4 ID bytes, 8 size bytes, 3 Void bytes.
    Bytes attachments = UnknownSizeElement(0x1941A469, Cat({Element(0xEC, {0x00}), Master(0x61A7, {Str(0x466E, "a")})}));
    EBMLAttachments parsed;
    EXPECT_EQ(ParseElement(attachments, parsed), 15);
}

TEST(Signature, ChildrenAreSkippedAndSignedElementsKept)
{
    // Of unknown size, so only the handled children keep the parse going.
    Bytes signature = UnknownSizeElement(0x1B538667, Cat({
        UInt(0x7E8A, 1),                                          // SignatureAlgo
        Bin(0x7E9A, {0x01, 0x02}),                                // SignatureHash
        Master(0x7E5B, {Master(0x7E7B, {Bin(0x6532, {0x1F})})}),  // SignatureElements
        Bin(0x7EA5, {0x03}),                                      // SignaturePublicKey
        Master(0x7E7B, {}),                                       // SignatureElementList
    }));
    EBMLSignature parsed;
    EXPECT_EQ(ParseElement(signature, parsed), static_cast<int64_t>(signature.size()));
    EXPECT_TRUE(parsed.elementLists.empty());

    Bytes list = Master(0x7E7B, {Bin(0x6532, {'a', 'b'}), Element(0xEC, {}), Bin(0x6532, {'x', 'y', 'z'})});
    EBMLSignatureElementList elements;
    EXPECT_EQ(ParseElement(list, elements), static_cast<int64_t>(list.size()));
    ASSERT_EQ(elements.signedElements.size(), 2u);
    EXPECT_EQ(std::memcmp(elements.signedElements[0].get(), "ab", 2), 0);
    EXPECT_EQ(std::memcmp(elements.signedElements[1].get(), "xyz", 3), 0);
}
