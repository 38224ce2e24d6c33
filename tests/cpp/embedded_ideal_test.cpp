// The embedded ideal-database catalogue: packs, the whole map, and the lookup by name.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/embedded_ideal.hpp"
#include "core/fourier_knot.hpp"
#include "embedded_ideal_packs.hpp"

namespace {

using tarq::KnotFileMap;

const std::string kResources = std::string(TARQ_SOURCE_DIR) + "/resources/";
const std::string kPointDir = "ideal_12_data/";

std::string read_resource(const std::string& key) {
    std::ifstream in(kResources + key, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read resource " + key);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void apply_packs(KnotFileMap& files, int first, int last) {
    for (int k = first; k <= last; ++k) {
        tarq::detail::kEmbeddedIdealPacks[k](files);
    }
}

std::string point_key(const std::string& name) { return kPointDir + name; }

// Every key a pack touches and the bytes it adds, applied alone to an empty map.
struct PackCase {
    int pack;
    std::vector<std::string> keys;  // exact key set
    std::size_t bytes;
};

// The catalogue built once for the read-only checks (each build copies about 52 MB).
const KnotFileMap& catalogue() {
    static const KnotFileMap files = tarq::get_embedded_ideal_files();
    return files;
}

}  // namespace

TEST(EmbeddedIdealPacks, AllPacksInOrderGiveTheResourceFilesByteForByte) {
    ASSERT_EQ(tarq::detail::kEmbeddedIdealPackCount, 142);
    KnotFileMap files;
    apply_packs(files, 0, 141);
    ASSERT_EQ(files.size(), 2183u);
    std::size_t total = 0;
    for (const auto& entry : files) {
        total += entry.second.size();
        ASSERT_EQ(entry.second, read_resource(entry.first)) << entry.first;
    }
    EXPECT_EQ(total, 51901090u);
    EXPECT_EQ(files.begin()->first, "ideal.txt");
    EXPECT_EQ(files.rbegin()->first, "ideal_database.txt");
    EXPECT_EQ(files.at("ideal.txt"), files.at("ideal_database.txt"));
    EXPECT_EQ(files.at("ideal.txt").size(), 5587284u);
    EXPECT_EQ(files.at(point_key("12a1.txt")).size(), 4982u);
    EXPECT_EQ(files, catalogue());
}

TEST(EmbeddedIdealPacks, LargeFileGrowsAcrossPacks) {
    const std::string ideal = read_resource("ideal.txt");
    KnotFileMap files;
    apply_packs(files, 0, 14);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.at("ideal.txt"), ideal.substr(0, 5400000));
    apply_packs(files, 15, 15);
    EXPECT_EQ(files.at("ideal.txt"), ideal);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files.at("idealLinks.txt"), read_resource("idealLinks.txt").substr(0, 120000));
}

TEST(EmbeddedIdealPacks, ContinuingPackAloneAppendsToANewEntry) {
    KnotFileMap files;
    apply_packs(files, 1, 1);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.at("ideal.txt"), read_resource("ideal.txt").substr(360000, 360000));
}

TEST(EmbeddedIdealPacks, StatedPacksAppliedAloneHoldTheirFilesAndBytes) {
    const std::vector<PackCase> cases = {
        {0, {"ideal.txt"}, 360000},
        {13, {"ideal.txt"}, 360000},
        {15, {"ideal.txt", "idealLinks.txt"}, 307284},
        {64, {"idealLinks_10n.txt", "ideal_11a.txt"}, 387129},
        {86, {"ideal_11a.txt", "ideal_11n.txt"}, 369725},
        {100, {"ideal_database.txt"}, 360000},
        {112, {"ideal_database.txt"}, 397254},
        {113, {}, 396549},
        {115, {}, 399931},
        {130, {}, 397284},
        {138, {}, 395278},
        {141, {}, 139366},
    };
    // For the point-list packs: first list, last list and count, in bytewise order of the names.
    struct Range {
        int pack;
        const char* first;
        const char* last;
        std::size_t count;
    };
    const std::vector<Range> ranges = {
        {112, "12a1.txt", "12a1011.txt", 16},  {113, "12a1012.txt", "12a1076.txt", 71},
        {115, "12a1141.txt", "12a1207.txt", 74}, {130, "12a988.txt", "12n158.txt", 79},
        {138, "12n666.txt", "12n736.txt", 79},  {141, "12n875.txt", "12n99.txt", 27},
    };
    for (const auto& c : cases) {
        KnotFileMap files;
        apply_packs(files, c.pack, c.pack);
        std::size_t bytes = 0;
        std::vector<std::string> points;
        std::set<std::string> others;
        for (const auto& entry : files) {
            bytes += entry.second.size();
            if (entry.first.compare(0, kPointDir.size(), kPointDir) == 0) {
                points.push_back(entry.first.substr(kPointDir.size()));
            } else {
                others.insert(entry.first);
            }
        }
        EXPECT_EQ(bytes, c.bytes) << "pack " << c.pack;
        EXPECT_EQ(others, std::set<std::string>(c.keys.begin(), c.keys.end())) << "pack " << c.pack;
        for (const auto& r : ranges) {
            if (r.pack != c.pack) {
                continue;
            }
            ASSERT_EQ(points.size(), r.count) << "pack " << c.pack;
            // the map orders the names bytewise, like the packing stream
            EXPECT_EQ(points.front(), r.first) << "pack " << c.pack;
            EXPECT_EQ(points.back(), r.last) << "pack " << c.pack;
        }
    }
    // pack 112 ends ideal_database.txt with its last piece, appended
    KnotFileMap files;
    apply_packs(files, 112, 112);
    EXPECT_EQ(files.at("ideal_database.txt"), read_resource("ideal.txt").substr(44 * 120000));
}

TEST(EmbeddedIdealPacks, SecondApplicationAndForeignKeys) {
    KnotFileMap files;
    files["zz_foreign.txt"] = "kept";
    files["ideal_12_data/12a1.txt"] = "overwritten by the first piece";
    files["ideal.txt"] = "stale";
    apply_packs(files, 0, 141);
    apply_packs(files, 0, 141);
    EXPECT_EQ(files.size(), 2184u);
    EXPECT_EQ(files.at("zz_foreign.txt"), "kept");
    files.erase("zz_foreign.txt");
    EXPECT_EQ(files, catalogue());
}

TEST(EmbeddedIdealFiles, CatalogueProfile) {
    const KnotFileMap& files = catalogue();
    ASSERT_EQ(files.size(), 2183u);
    const std::vector<std::pair<std::string, std::size_t>> top = {
        {"ideal.txt", 5587284},          {"idealLinks.txt", 5393494}, {"idealLinks_10a.txt", 7145724},
        {"idealLinks_10n.txt", 5067129}, {"ideal_11a.txt", 7809725},  {"ideal_11n.txt", 3948742},
        {"ideal_database.txt", 5587284}};
    for (const auto& t : top) {
        ASSERT_EQ(files.count(t.first), 1u) << t.first;
        EXPECT_EQ(files.at(t.first).size(), t.second) << t.first;
        const std::string& text = files.at(t.first);
        const bool lf = t.first != "ideal.txt" && t.first != "ideal_database.txt" && t.first != "ideal_11a.txt";
        EXPECT_EQ(text.substr(text.size() - (lf ? 8 : 7)), lf ? "</DATA>\n" : "</DATA>") << t.first;
    }
    // complete ranges 12a1..12a1288 and 12n1..12n888, nothing else under the subdirectory
    std::size_t lists = 0;
    for (int n = 1; n <= 1288; ++n) {
        lists += files.count(point_key("12a" + std::to_string(n) + ".txt"));
    }
    for (int n = 1; n <= 888; ++n) {
        lists += files.count(point_key("12n" + std::to_string(n) + ".txt"));
    }
    EXPECT_EQ(lists, 2176u);
    for (const char* absent : {"12a0.txt", "12n0.txt", "12a1289.txt", "12n889.txt"}) {
        EXPECT_EQ(files.count(point_key(absent)), 0u) << absent;
    }
    // extremes, and where the subdirectory keys sit in map order
    auto smallest = files.begin();
    auto largest = files.begin();
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it->second.size() < smallest->second.size()) smallest = it;
        if (it->second.size() > largest->second.size()) largest = it;
        if (it->first.compare(0, kPointDir.size(), kPointDir) == 0) {
            EXPECT_GT(it->first, std::string("ideal_11n.txt"));
            EXPECT_LT(it->first, std::string("ideal_database.txt"));
            EXPECT_EQ(it->second.back(), '\n') << it->first;
        }
    }
    EXPECT_EQ(smallest->first, point_key("12a1272.txt"));
    EXPECT_EQ(smallest->second.size(), 3653u);
    EXPECT_EQ(largest->first, "ideal_11a.txt");
    EXPECT_EQ(files.at(point_key("12a1.txt")).substr(0, 41), " -1.483701e+00 1.003256e+00 1.003894e+00\n");
}

TEST(EmbeddedIdealFiles, EveryCallBuildsAnIndependentMap) {
    KnotFileMap first = tarq::get_embedded_ideal_files();
    const KnotFileMap second = tarq::get_embedded_ideal_files();
    ASSERT_EQ(first, second);
    first.at("ideal.txt").assign("changed");
    first.erase("ideal_11n.txt");
    EXPECT_EQ(second.at("ideal.txt").size(), 5587284u);
    EXPECT_EQ(second.count("ideal_11n.txt"), 1u);
    EXPECT_EQ(tarq::get_embedded_ideal_files(), second);
}

TEST(EmbeddedIdealLookup, ExactAndBaseNameMatches) {
    const std::string db = read_resource("ideal.txt");
    EXPECT_EQ(tarq::load_embedded_ideal_text("ideal.txt"), db);
    EXPECT_EQ(tarq::load_embedded_ideal_text("ideal_database.txt"), db);
    EXPECT_EQ(tarq::load_embedded_ideal_text("12n888.txt"), read_resource(point_key("12n888.txt")));
    EXPECT_EQ(tarq::load_embedded_ideal_text("12a1.txt"), read_resource(point_key("12a1.txt")));
    EXPECT_EQ(tarq::load_embedded_ideal_text("ideal_12_data/12a1.txt"), read_resource(point_key("12a1.txt")));
    // later calls read the same process-wide copy
    EXPECT_EQ(tarq::load_embedded_ideal_text("idealLinks.txt"), read_resource("idealLinks.txt"));
}

TEST(EmbeddedIdealLookup, NamesThatMatchNoKey) {
    // names with a separator match only exactly; case matters; the empty name never matches
    for (const std::string name : {"IDEAL.TXT", "", "other/12a1.txt", "ideal_12_data\\12a1.txt", "12a1",
                                   "/12a1.txt", "ideal_12_data/", "12a0.txt"}) {
        try {
            tarq::load_embedded_ideal_text(name);
            ADD_FAILURE() << "found: " << name;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Embedded ideal text not found: " + name);
        }
    }
}

TEST(EmbeddedIdealLookup, EntryOfAnEmbeddedText) {
    const auto ab = tarq::FourierKnot::parse_ideal_ab_by_id_from_embedded("3:1:1", "ideal.txt");
    EXPECT_EQ(ab.id, "3:1:1");
    EXPECT_EQ(ab.conway, "3");
    EXPECT_DOUBLE_EQ(ab.L, 16.371637);
    EXPECT_DOUBLE_EQ(ab.D, 1.0);
    EXPECT_EQ(ab.n, 1);
    ASSERT_EQ(ab.components.size(), 1u);
    EXPECT_EQ(ab.components[0].component_index, 1);
    EXPECT_EQ(ab.fourier.a_x.size(), 250u);

    const auto link = tarq::FourierKnot::parse_ideal_ab_by_id_from_embedded("L2a1", "ideal_database.txt");
    ASSERT_EQ(link.components.size(), 2u);
    EXPECT_EQ(link.components[0].A0[0], -1.0);
    EXPECT_EQ(link.components[1].A0[0], 1.0);

    try {
        tarq::FourierKnot::parse_ideal_ab_by_id_from_embedded("99:1:1", "ideal.txt");
        ADD_FAILURE() << "99:1:1 found";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "parse_ideal_ab_by_id_from_string: AB Id not found: 99:1:1");
    }
    try {
        tarq::FourierKnot::parse_ideal_ab_by_id_from_embedded("3:1:1", "missing.txt");
        ADD_FAILURE() << "missing.txt found";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Embedded ideal text not found: missing.txt");
    }
    // the link databases hold no AB entries
    EXPECT_THROW(tarq::FourierKnot::parse_ideal_ab_by_id_from_embedded("L2a1", "idealLinks.txt"),
                 std::runtime_error);
}
