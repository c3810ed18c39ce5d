#include <reference_checks/SizeText.h>

#include <gtest/gtest.h>

#include <limits>

TEST(SizeText, FormatsCountsWithPowerOfTenThresholdsAndPowerOfTwoUnits)
{
    const struct
    {
        qint64 bytes;
        const char *text;
    } cases[] = {
            {-1, ""},
            {0, "0 B"},
            {999, "999 B"},
            {1001, "0.977539 KB"},
            {1536, "1.5 KB"},
            {999999, "976.562 KB"},
            {1000000, "0.953674 MB"},
            {1048576, "1 MB"},
            {1073741824, "1 GB"},
            {std::numeric_limits<qint32>::max(), "2 GB"},
            // Counts of 2 GiB and more are sizes too.
            {2684354560LL, "2.5 GB"},
            {5368709120LL, "5 GB"},
            {1099511627776LL, "1024 GB"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatSizeText(c.bytes).toStdString(), c.text) << c.bytes;
}

TEST(SizeText, ReadsTextsBackWithCaseSensitiveUnits)
{
    const struct
    {
        const char *text;
        float bytes;
    } cases[] = {
            {"1.5 KB", 1536.0f},
            {"2 MB", 2097152.0f},
            {"999 B", 999.0f},
            {"1 GB", 1073741824.0f},
            {"2.5 GB", 2684354560.0f},
            {"", 0.0f},
            {"12", 0.0f},
            {"1.5 kb", 0.0f},
            {"abc KB", 0.0f},
    };
    for (const auto &c : cases)
        EXPECT_FLOAT_EQ(sizeTextToBytes(QString::fromLatin1(c.text)), c.bytes) << c.text;
}

TEST(SizeText, TextsSortInTheOrderOfTheirCounts)
{
    const qint64 counts[] = {0,         1,          999,        1000,         1023,
                             1024,      50000,      999999,     1000000,      123456789,
                             999999999, 1000000000, 2147483647, 3000000000LL, 9000000000LL};
    for (size_t i = 0; i + 1 < std::size(counts); ++i) {
        const float smaller = sizeTextToBytes(formatSizeText(counts[i]));
        const float larger = sizeTextToBytes(formatSizeText(counts[i + 1]));
        EXPECT_LE(smaller, larger) << counts[i] << " vs " << counts[i + 1];
        EXPECT_NEAR(smaller, static_cast<float>(counts[i]), counts[i] * 1e-5f + 0.5f);
    }
}
