#include "text/CodePage.h"

#include <gtest/gtest.h>

TEST(CodePage, RoundTripsEveryByte) {
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    const QString text = fromCodePage(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(toCodePage(text), all);
}

TEST(CodePage, MapsTheWindowsRangeAndReplacesWhatItLacks) {
    EXPECT_EQ(fromCodePage("\x80\xe9\x9f"), QString::fromUtf8("\u20ac\u00e9\u0178"));
    EXPECT_EQ(toCodePage(QString::fromUtf8("\u20ac\u00e9")), QByteArray("\x80\xe9"));
    EXPECT_EQ(toCodePage(QString::fromUtf8("a\u4e2db")), QByteArray("a?b"));
    // What it lacks, each once; '?' itself it has. A character beyond 16 bits stays whole.
    EXPECT_EQ(charactersLacking(QString::fromUtf8("?\u20ac\u4e2d\U0001F600\u4e2d")),
              QString::fromUtf8("\u4e2d\U0001F600"));
}
