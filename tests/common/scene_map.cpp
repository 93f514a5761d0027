#include "common/scene_map.h"

#include "support/paths.h"

namespace test {

namespace fs = std::filesystem;

namespace {

// tiles.png holds four tiles; tile 1 is solid.
const std::string _tileset =
    R"({"firstgid":1,"name":"t","tilecount":4,"columns":4,"imagewidth":32,"imageheight":8,)"
    R"("tilewidth":8,"tileheight":8,"image":"tiles.png","tiles":[{"id":1,"type":"solid"}]})";

std::string join(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& i : items) s += (s.empty() ? "" : ",") + i;
    return s;
}

}  // namespace

std::string object(const std::string& type, const std::string& name, const std::string& x, const std::string& y,
                   const std::string& w, const std::string& h) {
    return R"({"type":")" + type + R"(","name":")" + name + R"(","x":)" + x + R"(,"y":)" + y + R"(,"width":)" +
           w + R"(,"height":)" + h + R"(,"id":1,"visible":true,"rotation":0})";
}

std::string objectgroup(const std::vector<std::string>& objects) {
    return R"({"type":"objectgroup","name":"things","visible":true,"objects":[)" + join(objects) + "]}";
}

std::string tilelayer(const std::string& data) {
    return R"({"type":"tilelayer","name":"ground","width":2,"height":2,"visible":true,"data":)" + data + "}";
}

std::string property(const std::string& name, const std::string& value) {
    return R"({"name":")" + name + R"(","type":"string","value":")" + value + R"("})";
}

const std::string _player = object("player", "", "16", "4", "8", "12");
const std::string _room = object("room", "first", "0", "0", "16", "16");

Map::Map()
    : width("2"), height("2"), tilewidth("8"), tileheight("8"), properties("[" + property("title", "Tiny") + "]"),
      tilesets("[" + _tileset + "]"), layers("[" + tilelayer("[1,2,0,4]") + "," + objectgroup({_player, _room}) + "]") {}

std::string Map::text() const {
    std::vector<std::string> members{R"("type":"map","orientation":"orthogonal","infinite":false)"};
    auto add = [&](const char* key, const std::string& v) {
        if (!v.empty()) members.push_back("\"" + std::string(key) + "\":" + v);
    };
    add("width", width);
    add("height", height);
    add("tilewidth", tilewidth);
    add("tileheight", tileheight);
    add("properties", properties);
    add("tilesets", tilesets);
    add("layers", layers);
    return "{" + join(members) + "}";
}

void Scene_test::SetUp() {
    Gl_test::SetUp();
    saved_state = kesp::paths.state.dir;
    kesp::paths.state.dir = tmp / "state";
    // Four 8 x 8 tiles of four greys.
    Surface image = make_image(32, 8, [](int x, int) {
        std::uint32_t v = 20 + 60 * static_cast<std::uint32_t>(x / 8);
        return rgba(v, v, v, 255);
    });
    ASSERT_TRUE(image);
    ASSERT_NO_FATAL_FAILURE(save_image(image.get(), tmp / "tiles.png"));
    scene = std::make_unique<Scene>();
}

void Scene_test::TearDown() {
    scene.reset();
    kesp::paths.state.dir = saved_state;
}

fs::path Scene_test::write(const Map& map, const char* name) {
    write_file(tmp / name, map.text());
    return tmp / name;
}

void Scene_test::load(const Map& map) { scene->load(write(map)); }

std::string Scene_test::load_logged(const Map& map) {
    fs::path path = write(map);
    testing::internal::CaptureStderr();
    scene->load(path);
    return testing::internal::GetCapturedStderr();
}

std::string Scene_test::named(const std::string& place_and_problem, const char* name) const {
    return "\"" + (tmp / name).string() + "\": " + place_and_problem;
}

std::vector<std::int32_t> Scene_test::tiles() const { return cells(scene->background.tiles); }
std::vector<bool> Scene_test::solids() const { return cells(scene->physics.solid); }

void expect_box(const kesp::Box& got, const kesp::Box& want) {
    EXPECT_FLOAT_EQ(got.l, want.l);
    EXPECT_FLOAT_EQ(got.r, want.r);
    EXPECT_FLOAT_EQ(got.u, want.u);
    EXPECT_FLOAT_EQ(got.d, want.d);
}

}  // namespace test
