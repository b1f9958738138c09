#include "service/vrlayout.h"

#include <array>

namespace svc {
namespace {

// One row per token the players read in a name. rank orders projection tokens by how much they
// say, so that "_180_MKX200" is the MKX200 lens whatever the order.
struct NameToken
{
    std::string_view text; // upper case
    bool setsStereo;
    VrStereo stereo;
    bool swapped;
    int rank; // 0: says nothing of the projection
    VrProjection projection;
    int fov;
    VrLens lens;
    bool sideBySideRig; // a camera that only films side by side
};

constexpr NameToken packing(std::string_view text, VrStereo stereo, bool swapped)
{
    return { text, true, stereo, swapped, 0, VrProjection::Flat, 0, VrLens::None, false };
}

constexpr NameToken mapping(std::string_view text, int rank, VrProjection projection, int fov,
                            VrLens lens = VrLens::None, bool sideBySideRig = false)
{
    return { text, false, VrStereo::Mono, false, rank, projection, fov, lens, sideBySideRig };
}

constexpr int Equirect = 1, Cubemap = 2, AnyFisheye = 3, KnownFisheye = 4;

constexpr std::array<NameToken, 22> Tokens { {
    packing("LR", VrStereo::SideBySide, false),
    packing("SBS", VrStereo::SideBySide, false),
    packing("3DH", VrStereo::SideBySide, false),
    packing("RL", VrStereo::SideBySide, true),
    packing("TB", VrStereo::TopBottom, false),
    packing("OU", VrStereo::TopBottom, false),
    packing("3DV", VrStereo::TopBottom, false),
    packing("TAB", VrStereo::TopBottom, false),
    packing("BT", VrStereo::TopBottom, true),
    mapping("180", Equirect, VrProjection::Equirect180, 180),
    mapping("180X180", Equirect, VrProjection::Equirect180, 180),
    mapping("360", Equirect, VrProjection::Equirect360, 360),
    mapping("VR360", Equirect, VrProjection::Equirect360, 360),
    mapping("EAC360", Cubemap, VrProjection::EquiangularCubemap, 360),
    mapping("F180", AnyFisheye, VrProjection::Fisheye, 180),
    mapping("VR180", AnyFisheye, VrProjection::Fisheye, 180),
    mapping("FISHEYE", AnyFisheye, VrProjection::Fisheye, 180, VrLens::None, true),
    mapping("FISHEYE190", KnownFisheye, VrProjection::Fisheye, 190, VrLens::None, true),
    mapping("RF52", KnownFisheye, VrProjection::Fisheye, 190, VrLens::RF52, true),
    mapping("MKX200", KnownFisheye, VrProjection::Fisheye, 200, VrLens::MKX200, true),
    mapping("MKX220", KnownFisheye, VrProjection::Fisheye, 220, VrLens::MKX220, true),
    mapping("VRCA220", KnownFisheye, VrProjection::Fisheye, 220, VrLens::VRCA220, true),
} };

constexpr size_t LongestToken = 10;

bool isSeparator(char c)
{
    return c == '_' || c == '-' || c == '.' || c == ' ' || c == '[' || c == ']' || c == '('
        || c == ')';
}

// Calls found for each token of text that the table knows.
template<typename Found> void eachToken(std::string_view text, Found found)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !isSeparator(text[end]))
            ++end;
        const size_t length = end - start;
        if (length > 0 && length <= LongestToken) {
            char upper[LongestToken];
            for (size_t i = 0; i < length; ++i) {
                const char c = text[start + i];
                upper[i] = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
            }
            const std::string_view word(upper, length);
            for (const NameToken &token : Tokens) {
                if (token.text == word) {
                    found(token);
                    break;
                }
            }
        }
        start = end + 1;
    }
}

VrLayout parseTokens(std::string_view text)
{
    VrLayout layout;
    int rank = 0;
    bool sideBySideRig = false;
    eachToken(text, [&](const NameToken &token) {
        if (token.setsStereo && !layout.stereoSaid) {
            layout.stereo = token.stereo;
            layout.eyesSwapped = token.swapped;
            layout.stereoSaid = true;
        }
        if (token.rank > rank) {
            rank = token.rank;
            layout.projection = token.projection;
            layout.fov = token.fov;
            layout.lens = token.lens;
            layout.projectionSaid = true;
            sideBySideRig = token.sideBySideRig;
        }
    });
    if (sideBySideRig && !layout.stereoSaid) {
        layout.stereo = VrStereo::SideBySide;
        layout.stereoSaid = true;
    }
    return layout;
}

std::string_view stemOf(std::string_view fileName)
{
    const size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

} // namespace

bool VrLayout::sameLayout(const VrLayout &other) const
{
    return projection == other.projection && fov == other.fov && lens == other.lens
        && stereo == other.stereo && eyesSwapped == other.eyesSwapped;
}

VrLayout layoutFromName(std::string_view fileName)
{
    return parseTokens(stemOf(fileName));
}

VrLayout layoutFromDeclared(std::string_view tokens)
{
    return parseTokens(tokens);
}

VrLayout combineLayouts(const VrLayout &fromName, const VrLayout &declared)
{
    VrLayout layout = fromName;
    if (!fromName.projectionSaid && declared.projectionSaid) {
        layout.projection = declared.projection;
        layout.fov = declared.fov;
        layout.lens = declared.lens;
        layout.projectionSaid = true;
    }
    if (!fromName.stereoSaid && declared.stereoSaid) {
        layout.stereo = declared.stereo;
        layout.eyesSwapped = declared.eyesSwapped;
        layout.stereoSaid = true;
    }
    return layout;
}

VrLayout videoLayout(std::string_view fileName, std::string_view declared)
{
    return combineLayouts(layoutFromName(fileName), layoutFromDeclared(declared));
}

bool stemHasLayoutToken(std::string_view stem)
{
    bool any = false;
    eachToken(stem, [&any](const NameToken &) { any = true; });
    return any;
}

std::string layoutTitleTokens(const VrLayout &layout)
{
    std::string tokens;
    switch (layout.projection) {
    case VrProjection::Flat:
        break;
    case VrProjection::Equirect180:
        tokens = "_180";
        break;
    case VrProjection::Equirect360:
        tokens = "_360";
        break;
    case VrProjection::EquiangularCubemap:
        tokens = "_EAC360";
        break;
    case VrProjection::Fisheye:
        switch (layout.lens) {
        case VrLens::MKX200:
            tokens = "_MKX200";
            break;
        case VrLens::MKX220:
            tokens = "_MKX220";
            break;
        case VrLens::VRCA220:
            tokens = "_VRCA220";
            break;
        case VrLens::RF52:
            tokens = "_RF52";
            break;
        case VrLens::None:
            tokens = layout.fov == 190 ? "_FISHEYE190" : "_FISHEYE";
            break;
        }
        break;
    }
    if (layout.stereo == VrStereo::SideBySide)
        tokens += layout.eyesSwapped ? "_RL" : "_LR";
    else if (layout.stereo == VrStereo::TopBottom)
        tokens += layout.eyesSwapped ? "_BT" : "_TB";
    return tokens;
}

std::string layoutTitle(std::string_view fileName, std::string_view declared)
{
    const std::string_view stem = stemOf(fileName);
    if (declared.empty() || stemHasLayoutToken(stem))
        return std::string(stem);
    return std::string(stem) + layoutTitleTokens(layoutFromDeclared(declared));
}

DeoVrLayout deoVrLayout(const VrLayout &layout)
{
    DeoVrLayout deo;
    deo.is3d = layout.projection != VrProjection::Flat || layout.stereo != VrStereo::Mono;
    switch (layout.projection) {
    case VrProjection::Flat:
        deo.screenType = "flat";
        break;
    case VrProjection::Equirect180:
        deo.screenType = "dome";
        break;
    case VrProjection::Equirect360:
        deo.screenType = "sphere";
        break;
    case VrProjection::EquiangularCubemap:
        return deo;
    case VrProjection::Fisheye:
        switch (layout.lens) {
        case VrLens::MKX200:
            deo.screenType = "mkx200";
            break;
        case VrLens::MKX220:
            deo.screenType = "mkx220";
            break;
        case VrLens::VRCA220:
            deo.screenType = "vrca220";
            break;
        case VrLens::RF52:
            deo.screenType = "rf52";
            break;
        case VrLens::None:
            // DeoVR's only 190 degree fisheye is the RF52's; the peers file both together.
            deo.screenType = layout.fov == 190 ? "rf52" : "fisheye";
            break;
        }
        break;
    }
    // DeoVR has no way to say the eyes are swapped; the packing is still right.
    deo.stereoMode = layout.stereo == VrStereo::SideBySide ? "sbs"
        : layout.stereo == VrStereo::TopBottom             ? "tb"
                                                           : "off";
    return deo;
}

HereSphereLayout hereSphereLayout(const VrLayout &layout)
{
    HereSphereLayout here;
    switch (layout.projection) {
    case VrProjection::Flat:
        here.projection = "perspective";
        break;
    case VrProjection::Equirect180:
        here.projection = "equirectangular";
        break;
    case VrProjection::Equirect360:
        here.projection = "equirectangular360";
        break;
    case VrProjection::EquiangularCubemap:
        here.projection = "equiangularCubemap";
        break;
    case VrProjection::Fisheye:
        here.projection = "fisheye";
        break;
    }
    here.stereo = layout.stereo == VrStereo::SideBySide ? "sbs"
        : layout.stereo == VrStereo::TopBottom          ? "tb"
                                                        : "mono";
    here.eyesSwapped = layout.stereo != VrStereo::Mono && layout.eyesSwapped;
    here.fov = layout.projection == VrProjection::Flat ? 0 : layout.fov;
    // HereSphere corrects these lenses by name; the RF52 it knows only as a 190 degree fisheye.
    switch (layout.lens) {
    case VrLens::MKX200:
        here.lens = "MKX200";
        break;
    case VrLens::MKX220:
        here.lens = "MKX220";
        break;
    case VrLens::VRCA220:
        here.lens = "VRCA220";
        break;
    case VrLens::RF52:
    case VrLens::None:
        here.lens = "Linear";
        break;
    }
    return here;
}

} // namespace svc
