// The command line's habits, as its neighbours (cp, gzip, convert) have
// them: each run end to end, on a terminal where it matters (through
// script(1), which gives the tool one).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace fs = std::filesystem;

namespace {

class Habits : public tool_case {
protected:
    void SetUp() override
    {
        for (const char* name : {"a.png", "b.png", "c.png", "d.png"})
            write_file(dir / name, files::encode(picture(5, 4, files::layout::rgb, 3), files::format::png, {}));
    }

    // The tool on a terminal: what it wrote there, standard output and error together.
    outcome on_terminal(const std::string& args)
    {
        run_options opt;
        opt.dir = dir;
        return run_program("/usr/bin/script", {"-qec", std::string(TOOL_PATH) + " " + args, "/dev/null"}, opt);
    }

    // The files under `folder`, by their paths from it.
    std::set<std::string> tree(const fs::path& folder)
    {
        std::set<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.is_regular_file())
                out.insert(e.path().lexically_relative(folder).string());
        return out;
    }
};

TEST_F(Habits, UsageVersionAndNearMisses)
{
    const outcome none = lq2x({});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "usage: lq2x [options] INPUT OUTPUT\n       lq2x [options] -o DIR INPUT...\n"
                        "Try 'lq2x --help' for more.\n");
    const outcome version = lq2x({"-V"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "lq2x " LQ2X_VERSION_STRING "\n");
    const std::pair<std::vector<std::string>, std::string> misses[] = {
        {{"--scal", "4"}, "lq2x: unknown option '--scal'; did you mean --scale? (--help lists them)\n"},
        {{"--rotat=cw"}, "lq2x: unknown option '--rotat'; did you mean --rotate? (--help lists them)\n"},
        {{"--quite"}, "lq2x: unknown option '--quite'; did you mean --quiet? (--help lists them)\n"},
        {{"--colour"}, "lq2x: unknown option '--colour' (--help lists them)\n"},
    };
    for (const auto& [args, err] : misses) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"a.png", "out.png"});
        const outcome o = lq2x(all);
        EXPECT_EQ(o.status, 2) << args[0];
        EXPECT_EQ(o.err, err);
    }
}

TEST_F(Habits, OutputFoldersAreMadeAndNamesTakeASuffix)
{
    // -o DIR made with its parents, once for all files; a folder as the last
    // name is DIR; --suffix goes before the extension; read-only formats
    // become PNG.
    const outcome o = lq2x({"-o", "new/deep", "--suffix", "@2x", "a.png", "b.png"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(tree(dir / "new"), (std::set<std::string>{"deep/a@2x.png", "deep/b@2x.png"}));
    fs::create_directory(dir / "existing");
    const outcome last = lq2x({"c.png", "d.png", "existing"});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(tree(dir / "existing"), (std::set<std::string>{"c.png", "d.png"}));
    const outcome slash = lq2x({"a.png", "made/"});
    EXPECT_EQ(slash.status, 0) << slash.err;
    EXPECT_EQ(tree(dir / "made"), std::set<std::string>{"a.png"});
    // A folder that cannot be made: said once, nothing done.
    write_file(dir / "plain", {'x'});
    const outcome blocked = lq2x({"-o", "plain/sub", "a.png", "b.png", "c.png"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(std::count(blocked.err.begin(), blocked.err.end(), '\n'), 1) << blocked.err;
    EXPECT_EQ(lq2x({"--suffix", "x", "a.png", "out.png"}).status, 2); // a suffix needs a folder
}

TEST_F(Habits, RecursiveWalksKeepTheTreeAndCountWhatTheySkip)
{
    fs::create_directories(dir / "art/monsters/small");
    fs::rename(dir / "a.png", dir / "art/a.png");
    fs::rename(dir / "b.png", dir / "art/monsters/b.png");
    fs::rename(dir / "c.png", dir / "art/monsters/small/c.png");
    write_file(dir / "art/README.txt", {'h', 'i'});
    write_file(dir / "art/monsters/notes", {'n'});
    const outcome o = lq2x({"-r", "-o", "big", "art"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(tree(dir / "big"), (std::set<std::string>{"a.png", "monsters/b.png", "monsters/small/c.png"}));
    EXPECT_EQ(o.err, "lq2x: skipped 2 files whose names say no image format\n");
    EXPECT_EQ(lq2x({"-qq", "-r", "-o", "big2", "art"}).err, ""); // told to be quiet of it
    const outcome folder = lq2x({"-o", "big3", "art"});
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, "lq2x: art: a folder (-r walks folders)\n");
}

TEST_F(Habits, NoClobberKeepsWhatIsThereAndNamesIt)
{
    fs::create_directory(dir / "out");
    write_file(dir / "out/a.png", {'o', 'l', 'd'});
    const outcome o = lq2x({"-n", "-o", "out", "a.png", "b.png"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "lq2x: out/a.png: exists, kept as it is\n");
    EXPECT_EQ(read_file(dir / "out/a.png"), (bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::exists(dir / "out/b.png"));
    const outcome single = lq2x({"--no-clobber", "c.png", "out/a.png"});
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(read_file(dir / "out/a.png"), (bytes{'o', 'l', 'd'}));
}

TEST_F(Habits, QuietAndTerminals)
{
    // A batch on a terminal draws its progress, unless told to be quiet.
    const outcome loud = on_terminal("-o out a.png b.png c.png d.png");
    EXPECT_EQ(loud.status, 0) << loud.out;
    EXPECT_NE(loud.out.find("] 4/4"), std::string::npos) << loud.out;
    const outcome quiet = on_terminal("-q -o out2 a.png b.png c.png d.png");
    EXPECT_EQ(quiet.status, 0) << quiet.out;
    EXPECT_EQ(quiet.out, "");
    // Image data is never written to a terminal; through a pipe it is.
    const outcome screen = on_terminal("a.png -");
    EXPECT_EQ(screen.status, 2);
    EXPECT_NE(screen.out.find("lq2x: refusing to write image data to a terminal"), std::string::npos) << screen.out;
    const outcome piped = lq2x({"a.png", "-"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.substr(1, 3), "PNG");
    // -q keeps warnings; -qq drops them too (a delay GIF cannot hold).
    files::animation slow;
    slow.animated = true;
    for (int i = 0; i < 2; ++i)
        slow.frames.push_back({picture(3, 3, files::layout::rgb, std::uint32_t(i)), {1, 1000}});
    write_file(dir / "slow.png", files::encode_animation(slow, files::format::png, {}));
    EXPECT_NE(lq2x({"-q", "slow.png", "slow.gif"}).err.find("warning:"), std::string::npos);
    EXPECT_EQ(lq2x({"-qq", "slow.png", "slow2.gif"}).err, "");
}

} // namespace
