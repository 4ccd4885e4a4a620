// The importer's file system in the import child: the model file opens as
// the user named it, and every file the model refers to opens only from
// beneath the model's folder (app/mesh/beneath_open.h). Assimp's importers
// open what a model names through this, whatever the format, so no format
// escapes the rule.
//
// Assimp hands over paths it has built itself: the model's folder joined
// with the reference as written, sometimes with its own repairs after a
// failed open. The rule is held on what follows the model's folder there,
// percent-decoded; a path that does not start with the folder at all is
// outside it.
#pragma once

#include <assimp/IOSystem.hpp>

#include <string>

namespace dunsmere {

class BeneathIOSystem : public Assimp::IOSystem {
public:
    explicit BeneathIOSystem(std::string model);
    ~BeneathIOSystem() override;
    BeneathIOSystem(const BeneathIOSystem&) = delete;
    BeneathIOSystem& operator=(const BeneathIOSystem&) = delete;

    bool Exists(const char* path) const override;
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* path, const char* mode) override;
    void Close(Assimp::IOStream* stream) override;

    // Importers may go on without a file they could not open, so a refused
    // reference is kept here, the first one as its model wrote it, for the
    // caller to turn into the read's error: "refers to R outside its
    // folder", or empty when nothing was refused.
    const std::string& refusal() const { return refusal_; }

private:
    // The descriptor for PATH, or -1; REFUSED gets the reference that was
    // refused, if that is why.
    int OpenFile(const std::string& path, std::string* refused) const;

    std::string model_;
    std::string prefix_;  // the model's folder as the path names it, with its '/'
    int folder_ = -1;
    std::string refusal_;
};

}  // namespace dunsmere
