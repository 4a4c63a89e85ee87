// Chapters: nothing reads them, but the edition and atom classes parse as far as their tables go.
#include <gtest/gtest.h>

#include "ParseElement.h"
#include "matroska/EBMLChapters.h"

using namespace ebml;

TEST(Chapters, DormantEditionIsReadUpToTheFirstChildItDoesNotHandle)
{
    // Of unknown size, the edition goes on only through the children it handles and stops, unread,
    // at ChapterTimeStart (91, three bytes), which it does not handle.
    const Bytes stop = UInt(0x91, 0);
    Bytes bytes = UnknownSizeElement(0x45B9, Cat({UInt(0x45BC, 7), UInt(0x45DB, 1), UInt(0x45BD, 0),
                                                   Master(0xB6, {UInt(0x73C4, 2), UInt(0x92, 5), UInt(0x98, 0)}),
                                                   UInt(0x45DD, 1), stop}));
    EBMLEditionEntry edition;
    EXPECT_EQ(ParseElement(bytes, edition), static_cast<int64_t>(bytes.size() - stop.size()));
    ASSERT_EQ(edition.atoms.size(), 1u);
    EXPECT_EQ(edition.atoms[0]->chapterTimeEnd, 5u);
    EXPECT_EQ(edition.editionFlagDefault, 1u);
    EXPECT_EQ(edition.editionFlagOrdered, 1u);
}
