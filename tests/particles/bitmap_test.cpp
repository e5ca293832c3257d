// The bitmap-shaped layout, on small XBM files written for each case.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

namespace fs = std::filesystem;

struct PsysBitmap : ::testing::Test {
    fs::path dir;
    psys ps{};
    std::string out, err;
    int result = -1;

    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "psys-bitmap-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        dir = templ;
        psys_reset_defaults(&ps);
        psys_set_defaults(&ps);
    }
    void TearDown() override {
        free(ps.particles);
        fs::remove_all(dir);
    }

    std::string write_xbm(unsigned width, unsigned height, const std::vector<unsigned char> &bytes) {
        std::string path = (dir / ("b" + std::to_string(width) + "x" + std::to_string(height) + ".xbm")).string();
        std::ofstream f(path);
        f << "#define b_width " << width << "\n#define b_height " << height << "\n";
        f << "static unsigned char b_bits[] = {\n";
        char hex[8];
        for (size_t i = 0; i < bytes.size(); ++i) {
            snprintf(hex, sizeof hex, "0x%02x", bytes[i]);
            f << (i ? ", " : "   ") << hex;
        }
        f << " };\n";
        return path;
    }

    // Creates the particles from the file with the generator at `seed`.
    void create(const std::string &path, unsigned seed = 1) {
        ps.image_path = const_cast<char *>(path.c_str());
        srandom(seed);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        result = psys_create_particles(&ps);
        err = testing::internal::GetCapturedStderr();
        out = testing::internal::GetCapturedStdout();
    }

    static std::string log(const std::string &path, unsigned w, unsigned h, int set_pixels) {
        char buf[1024];
        snprintf(buf, sizeof buf,
                 "Loading image from %s instead\nAm here\nread that in okay\n"
                 "Reading from file %s returns 0\n"
                 "Opened file is %u x %u, requiring a max of %u particles\n"
                 "Set psys count to %d\nFinished off having setup %d pixels from %d\nEven got here!\n",
                 path.c_str(), path.c_str(), w, h, w * h, 10 * set_pixels, 10 * set_pixels, 10 * set_pixels + 10);
        return buf;
    }

    // Fixed particles sit at the listed (col, row) pixels in scan order; every
    // other particle was spawned, in index order, from the generator at `seed`.
    void expect_layout(const std::vector<std::pair<unsigned, unsigned>> &pixels, unsigned w, unsigned h,
                       unsigned seed = 1) {
        ASSERT_EQ(ps.count, static_cast<int>(10 * pixels.size() + 10));
        srandom(seed);
        for (int i = 0; i < ps.count; ++i) {
            const particle &p = ps.particles[i];
            if (i % 10 == 0 && static_cast<size_t>(i / 10) < pixels.size()) {
                auto [col, row] = pixels[static_cast<size_t>(i / 10)];
                EXPECT_EQ(p.x, static_cast<double>(col) / w * 0.8 + 0.1) << "particle " << i;
                EXPECT_EQ(p.y, static_cast<double>(row) / h * 0.8 + 0.1) << "particle " << i;
                EXPECT_EQ(p.vx, 0.0);
                EXPECT_EQ(p.vy, 0.0);
                EXPECT_EQ(p.life, FIXED_LIFE);
            } else {
                particle want = expected_spawn();
                EXPECT_EQ(p.x, want.x) << "particle " << i;
                EXPECT_EQ(p.y, want.y) << "particle " << i;
                EXPECT_EQ(p.vx, want.vx) << "particle " << i;
                EXPECT_EQ(p.vy, want.vy) << "particle " << i;
                EXPECT_EQ(p.life, want.life) << "particle " << i;
            }
        }
    }
};

TEST_F(PsysBitmap, LeftmostPixelOfOneByte) {
    std::string path = write_xbm(8, 1, {0x01});
    create(path);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(out, log(path, 8, 1, 1));
    EXPECT_EQ(err, "");
    EXPECT_EQ(ps.count, 20);
    EXPECT_EQ(ps.particles[0].x, 0.1);
    EXPECT_EQ(ps.particles[0].y, 0.1);
    expect_layout({{0, 0}}, 8, 1);
}

TEST_F(PsysBitmap, TwelveWideRowsTakeTwoBytes) {
    // Column 11 of row 1 is bit 3 of byte 3; byte 0 bit 0 is the top-left.
    std::string path = write_xbm(12, 2, {0x01, 0x00, 0x00, 0x08});
    create(path, 5);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(out, log(path, 12, 2, 2));
    expect_layout({{0, 0}, {11, 1}}, 12, 2, 5);
}

TEST_F(PsysBitmap, FiveWideUsesOneByteARowAndIgnoresThePadding) {
    // Rows 2 and 7 set; the padding bits 5 to 7 are set too and must not count.
    std::vector<unsigned char> rows = {0xe0, 0x00, 0xf0 | 0x10, 0x00, 0x00, 0x00, 0x00, 0x01 | 0x04 | 0xe0};
    std::string path = write_xbm(5, 8, rows);
    create(path);
    ASSERT_EQ(result, 1);
    expect_layout({{4, 2}, {0, 7}, {2, 7}}, 5, 8);
}

TEST_F(PsysBitmap, OneWideUsesBitZeroOfEachRow) {
    std::string path = write_xbm(1, 3, {0x01, 0xfe, 0x01});
    create(path);
    ASSERT_EQ(result, 1);
    expect_layout({{0, 0}, {0, 2}}, 1, 3);
}

TEST_F(PsysBitmap, BottomRightOfTenByTen) {
    std::vector<unsigned char> bytes(20, 0);
    bytes[19] = 0x02;  // column 9 of row 9
    std::string path = write_xbm(10, 10, bytes);
    create(path);
    ASSERT_EQ(result, 1);
    EXPECT_NEAR(ps.particles[0].x, 0.82, 1e-15);
    EXPECT_NEAR(ps.particles[0].y, 0.82, 1e-15);
    expect_layout({{9, 9}}, 10, 10);
}

TEST_F(PsysBitmap, NoSetPixelsLeavesTenSpawnedParticles) {
    std::string path = write_xbm(16, 2, {0, 0, 0, 0});
    create(path);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(out, log(path, 16, 2, 0));
    expect_layout({}, 16, 2);
    for (int i = 0; i < ps.count; ++i) {
        EXPECT_TRUE(ps.particles[i].x >= 0 && ps.particles[i].x <= 1);
        EXPECT_TRUE(ps.particles[i].y >= 0 && ps.particles[i].y <= 1);
    }
}

TEST_F(PsysBitmap, FailedReadSaysSoAndFails) {
    std::string missing = (dir / "missing.xbm").string();
    create(missing);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ps.particles, nullptr);
    EXPECT_EQ(ps.count, 10000);
    EXPECT_EQ(out, "Loading image from " + missing + " instead\nAm here\nread that in okay\nReading from file " +
                       missing + " returns 1\n");
    EXPECT_EQ(err, "Unable to read bitmap file " + missing + "\n");

    std::string garbage = (dir / "garbage.xbm").string();
    std::ofstream(garbage) << "not a bitmap\n";
    create(garbage);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ps.particles, nullptr);
    EXPECT_NE(out.find("Reading from file " + garbage + " returns 2\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Opened file"), std::string::npos);
    EXPECT_EQ(err, "Unable to read bitmap file " + garbage + "\n");
}

TEST_F(PsysBitmap, ResetAllRefusesEachFixedParticleOnce) {
    std::string path = write_xbm(8, 2, {0x81, 0x10});
    create(path);
    ASSERT_EQ(result, 1);
    std::vector<particle> before(ps.particles, ps.particles + ps.count);
    testing::internal::CaptureStdout();
    psys_reset_all_particles(&ps);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Asked to reset a fixed particle ? Why!?\n"
              "Asked to reset a fixed particle ? Why!?\n"
              "Asked to reset a fixed particle ? Why!?\n");
    for (int i = 0; i < 30; i += 10) {
        EXPECT_EQ(ps.particles[i].x, before[static_cast<size_t>(i)].x);
        EXPECT_EQ(ps.particles[i].y, before[static_cast<size_t>(i)].y);
        EXPECT_EQ(ps.particles[i].life, FIXED_LIFE);
    }
    EXPECT_NE(ps.particles[1].x, before[1].x) << "companions respawn";
}

// The particle limit holds for bitmaps: ten particles per set pixel and ten
// more may make exactly 2000000, and one pixel more is refused before the
// array is made.
TEST_F(PsysBitmap, ParticleLimitHoldsAtTheBoundary) {
    const unsigned side = 448;  // 200704 pixels, more than the limit allows
    const unsigned row_bytes = side / 8;
    for (long set : {199999L, 200000L}) {
        SCOPED_TRACE(set);
        std::vector<unsigned char> bytes(static_cast<size_t>(row_bytes) * side, 0);
        for (long i = 0; i < set; ++i) {
            const unsigned row = static_cast<unsigned>(i / side), col = static_cast<unsigned>(i % side);
            bytes[row * row_bytes + col / 8] |= static_cast<unsigned char>(1u << (col % 8));
        }
        std::string path = write_xbm(side, side, bytes);
        ps.count = 10000;
        create(path);
        if (set == 199999) {
            ASSERT_EQ(result, 1) << err;
            EXPECT_EQ(ps.count, 2000000);
            EXPECT_NE(out.find("Set psys count to 1999990\nFinished off having setup 1999990 pixels from 2000000\n"),
                      std::string::npos)
                << out;
            EXPECT_EQ(err, "");
            free(ps.particles);
            ps.particles = nullptr;
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(ps.particles, nullptr);
            EXPECT_EQ(ps.count, 10000);
            EXPECT_EQ(out.find("Set psys count"), std::string::npos) << out;
            EXPECT_EQ(err, "Bitmap file " + path + " needs 2000010 particles, more than the limit of 2000000\n");
        }
    }
}

// Every input that once found a fault (tests/fuzz/regressions) is refused as
// an unreadable bitmap, before a line about its size; the sides at the bound
// are still laid out.
TEST_F(PsysBitmap, InputsThatFoundFaultsAreRefused) {
    int files = 0;
    for (const auto &entry : fs::directory_iterator(fs::path(VORBLES_SOURCE_DIR) / "tests/fuzz/regressions")) {
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ++files;
        create(path);
        EXPECT_EQ(result, 0);
        EXPECT_NE(out.find("returns 2\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("Opened file"), std::string::npos) << out;
        EXPECT_EQ(err, "Unable to read bitmap file " + path + "\n");
    }
    EXPECT_GE(files, 7);
    for (unsigned side : {PSYS_MAX_BITMAP_SIDE, PSYS_MAX_BITMAP_SIDE + 1}) {
        SCOPED_TRACE(side);
        std::vector<unsigned char> bytes((side + 7) / 8, 0);
        bytes[0] = 0x01;
        create(write_xbm(side, 1, bytes));
        EXPECT_EQ(result, side == PSYS_MAX_BITMAP_SIDE ? 1 : 0) << err;
        free(ps.particles);
        ps.particles = nullptr;
    }
}

}  // namespace
