// Folders for tests and headless use: the places are what the test sets (no home, no mount table
// of the machine), the contents of a folder come from the file system below them, so a test builds
// its folders in a temporary directory.
#pragma once

#include "platform/folders.h"

namespace tunefold::platform {

class VirtualFolders : public FolderService {
public:
    explicit VirtualFolders(std::vector<Place> places = {}) : places_(std::move(places)) {}
    void SetPlaces(std::vector<Place> places) { places_ = std::move(places); }
    std::vector<Place> Places() override { return places_; }
    FolderContents List(const std::string& folder) override;

private:
    std::vector<Place> places_;
};

} // namespace tunefold::platform
