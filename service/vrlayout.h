#pragma once

#include <string>
#include <string_view>

namespace svc {

// How a VR video's picture is mapped and packed: what a player must be told, or must read from
// the file name, to show it right.
enum class VrProjection {
    Flat,
    Equirect180,
    Equirect360,
    EquiangularCubemap, // YouTube's EAC 360
    Fisheye,
};
enum class VrStereo { Mono, SideBySide, TopBottom };
// Lenses that players correct by name; other fisheyes are told by their field of view alone.
enum class VrLens { None, MKX200, MKX220, VRCA220, RF52 };

struct VrLayout
{
    VrProjection projection = VrProjection::Flat;
    int fov = 0; // degrees across: 180, 190, 200, 220 or 360; 0 for a flat picture
    VrLens lens = VrLens::None;
    VrStereo stereo = VrStereo::Mono;
    bool eyesSwapped = false; // the right eye's picture first (_RL, _BT)
    // Whether the source said anything of the projection or of the packing: a name that says
    // only "_LR" leaves the projection to what the container declares.
    bool projectionSaid = false;
    bool stereoSaid = false;

    // The layout itself, not where it came from.
    bool sameLayout(const VrLayout &other) const;
};

// The layout the file name's tokens give, as the players read them: whole tokens between "_",
// "-", ".", " ", and the brackets and parentheses the DLNA title has always accepted, in any
// case. "_LR"/"_SBS"/"_3DH" side by side, "_RL" swapped; "_TB"/"_OU"/"_3DV"/"_TAB" top-bottom,
// "_BT" swapped; "_180"/"_180x180" and "_360"/"_VR360" equirectangular; "_EAC360" cubemap;
// "_F180"/"_VR180"/"_FISHEYE" fisheye 180; "_FISHEYE190" and "_RF52" 190; "_MKX200" 200;
// "_MKX220", "_VRCA220" 220. The camera rigs named by "_FISHEYE", "_FISHEYE190" and a lens only
// film side by side, so their name means side by side unless it says otherwise. Of several
// projection tokens the most specific wins (a lens over a generic fisheye over EAC over
// equirectangular, the first of equals); of several packing tokens the first.
VrLayout layoutFromName(std::string_view fileName);
// The layout the container declared, as the import stores it: "_180_LR", "_360_TB", "_LR".
VrLayout layoutFromDeclared(std::string_view tokens);
// The name's tokens are what the players themselves would read, and a layout sent as data
// overrides their own reading, so the name decides what it says; what it leaves unsaid, the
// projection or the packing, comes from the container.
VrLayout combineLayouts(const VrLayout &fromName, const VrLayout &declared);
VrLayout videoLayout(std::string_view fileName, std::string_view declared);

// Whether a name without its suffix carries any layout token of its own.
bool stemHasLayoutToken(std::string_view stem);
// The tokens a DLNA title gets for the layout ("_180_LR"); empty for a flat mono one.
std::string layoutTitleTokens(const VrLayout &layout);
// The DLNA title: the name without its suffix, with the declared layout's tokens added when the
// name has none of its own, so that players that read titles see the layout too.
std::string layoutTitle(std::string_view fileName, std::string_view declared);

// DeoVR's fields. screenType and stereoMode are null for a layout DeoVR has no name for (EAC):
// leaving them out lets the player read the file name, where sending a wrong one would not.
struct DeoVrLayout
{
    const char *screenType = nullptr; // flat, dome, sphere, fisheye, mkx200, mkx220, vrca220, rf52
    const char *stereoMode = nullptr; // off, sbs, tb
    bool is3d = false;
};
DeoVrLayout deoVrLayout(const VrLayout &layout);

// HereSphere's fields; fov 0 means leave it out (a flat picture).
struct HereSphereLayout
{
    const char *projection = "perspective"; // perspective, equirectangular, equirectangular360,
                                            // equiangularCubemap, fisheye
    const char *stereo = "mono"; // mono, sbs, tb
    bool eyesSwapped = false;
    int fov = 0;
    const char *lens = "Linear"; // Linear, MKX200, MKX220, VRCA220
};
HereSphereLayout hereSphereLayout(const VrLayout &layout);

} // namespace svc
