#include "common/cp936.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <thread>
#include <utility>

using namespace kx;

// Texts that are no code page 936 give one replacement character for each byte that cannot be
// read, wherever it stands; nothing of them is dropped.
TEST(Cp936Texts, EveryByteThatIsNoTextReadsAsAReplacementCharacter) {
    struct Case {
        const char* what;
        QByteArray bytes;
        QString text;
    };
    const QString r(QChar(0xFFFD));
    const Case cases[] = {
        {"ohm sign", "1.5M\xA6\xB8", QStringLiteral("1.5M\u03A9")},
        {"a pair", "\xB2\xE2\xCA\xD4", QStringLiteral("\u6D4B\u8BD5")},
        {"euro byte", "\x80", QStringLiteral("\u20AC")},
        {"empty", "", QString()},
        {"lead byte alone", "\x81", r},
        {"lead byte at the end", "ab\x81", QStringLiteral("ab") + r},
        {"after a pair", "\x81\x81\x81", QStringLiteral("\u4E96") + r},
        {"before a tab", "\x81\tX", r + QStringLiteral("\tX")},
        {"before a digit", "\x81\x30", r + QStringLiteral("0")},
        {"byte FF",
         "a\xFF"
         "b",
         QStringLiteral("a") + r + QStringLiteral("b")},
        {"lead byte before FF", "\xFE\xFF", r + r},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fromCp936(c.bytes), c.text) << c.what;
    EXPECT_EQ(toCp936(QStringLiteral("10M\u03A9")), "10M\xA6\xB8");
}

// Each thread keeps one decoder: a text must read the same whatever was decoded before it on
// that thread (a lone lead byte must not carry over into the next text), and on any thread.
TEST(Cp936Texts, ATextReadsTheSameWhateverCameBeforeItAndOnAnyThread) {
    const QString r(QChar(0xFFFD));
    const std::pair<QByteArray, QString> sequence[] = {
        {"ab\x81", QStringLiteral("ab") + r},
        {"\xA6\xB8", QStringLiteral("\u03A9")},
        {"\xB2", r},
        {"\xE2\xCA\xD4", QStringLiteral("\u9990") + r}, // not the pair B2 E2 with the text before
        {"\xFE\xFF", r + r},
        {"", QString()},
        {"plain", QStringLiteral("plain")},
    };
    auto readAll = [&] {
        QStringList got;
        for (const auto& [bytes, text] : sequence)
            got << fromCp936(bytes);
        return got;
    };
    QStringList expected;
    for (const auto& [bytes, text] : sequence)
        expected << text;
    EXPECT_EQ(readAll(), expected);
    QStringList onAnother;
    std::thread t([&] { onAnother = readAll(); });
    t.join();
    EXPECT_EQ(onAnother, expected);
}
