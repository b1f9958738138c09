#pragma once

#include "service/httpserver.h"
#include "service/library.h"
#include "service/vrplayers.h"

#include <httplib.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace svc {

// The VR players' own interfaces on the headset API's port: DeoVR's (/deovr) and HereSphere's
// (/heresphere), with the layout as data, covers, subtitles, and what HereSphere sends back
// (favourite, rating, where playback stopped). Every URL in them is built from the request's
// Host, so a PC on two networks is reached on the one the player asked. Nothing here deletes
// or changes a file.
class VrPlayersApi
{
public:
    explicit VrPlayersApi(Library &library);

    void install(HttpServer &server);

private:
    void deoVrLibrary(const httplib::Request &request, httplib::Response &response);
    void deoVrVideo(const httplib::Request &request, httplib::Response &response);
    void hereSphereLibrary(const httplib::Request &request, httplib::Response &response);
    void hereSphereVideo(const httplib::Request &request, httplib::Response &response);
    void hereSphereEvent(const httplib::Request &request, httplib::Response &response);
    void subtitle(const httplib::Request &request, httplib::Response &response);

    std::vector<PlayerSection> sections();
    // The library's JSON for one player and one address, made again only after a change.
    std::string libraryText(const std::string &player, const std::string &baseUrl);

    Library &m_library;
    std::mutex m_mutex;
    struct Kept
    {
        uint64_t generation = 0;
        std::string text;
    };
    std::map<std::string, Kept> m_kept; // by player and address
};

// What a player is given of a video.
PlayerVideo playerVideo(const Entry &entry);

} // namespace svc
