// A model's references resolve only beneath the model file's folder.

#include <fcntl.h>
#include <unistd.h>

#include "app/mesh/beneath_open.h"
#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

// One triangle, its positions in the buffer at URI.
std::string Gltf(const std::string& uri)
{
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
           R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"uri":")" +
           uri + R"(","byteLength":36}],"bufferViews":[{"buffer":0,"byteLength":36}],"accessors":)"
           R"([{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";
}

// The triangle's buffer at dir/outside.bin and model/sub dir/inside.bin,
// with links in model/ to either.
struct Folders {
    ScratchDir dir;
    std::string model = dir / "model";
    Folders()
    {
        std::filesystem::create_directories(model + "/sub dir");
        const std::string triangle("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x80\x3f\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x80\x3f\0\0\0\0", 36);
        WriteText(dir / "outside.bin", triangle);
        WriteText(model + "/sub dir/inside.bin", triangle);
        std::filesystem::create_symlink("../outside.bin", model + "/out.bin");
        std::filesystem::create_symlink("sub dir/inside.bin", model + "/in.bin");
        std::filesystem::create_symlink(model + "/sub dir/inside.bin", model + "/absolute.bin");
    }
};

TEST(MeshReferences, ResolveOnlyBeneathTheModelsFolder)
{
    Folders f;
    const std::string scene = f.model + "/scene.gltf";
    WriteText(scene, Gltf("data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"));
    const MeshFile embedded = ReadMeshFile(scene);
    const struct {
        std::string uri;
        bool reads;
    } cases[] = {
        {"sub%20dir/inside.bin", true},
        {"in.bin", true},
        {f.dir / "outside.bin", false},
        {"../outside.bin", false},
        {"sub%20dir/../../outside.bin", false},
        {"%2e%2e/outside.bin", false},
        {"out.bin", false},
        {"absolute.bin", false},
        {"file://" + f.dir / "outside.bin", false},
    };
    for (const auto& c : cases) {
        WriteText(scene, Gltf(c.uri));
        try {
            const MeshFile file = ReadMeshFile(scene);
            EXPECT_TRUE(c.reads) << c.uri;
            ExpectSameMesh(file.mesh, embedded.mesh);
        } catch (const MeshFileError& e) {
            EXPECT_FALSE(c.reads) << c.uri;
            EXPECT_EQ(e.what(), scene + ": refers to " + c.uri + " outside its folder");
        }
    }
}

// openat2's route and the walk by hand, where the kernel has both.
TEST(MeshReferences, KernelAndWalkAgree)
{
    Folders f;
    const int folder = open(f.model.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const char* path : {"sub dir/inside.bin", "in.bin", "sub dir/../in.bin", "out.bin", "absolute.bin",
                             "../model/in.bin", "sub dir", "none.bin", "none/../../outside.bin"}) {
        auto outcome = [&](BeneathRoute route) {
            const int fd = OpenBeneath(folder, path, route);
            const int error = errno;
            if (fd >= 0) close(fd);
            return fd >= 0 ? 0 : error;
        };
        EXPECT_EQ(outcome(BeneathRoute::kKernel), outcome(BeneathRoute::kWalk)) << path;
    }
    close(folder);
}

}  // namespace
