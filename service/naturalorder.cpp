#include "service/naturalorder.h"

namespace svc {
namespace {

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

unsigned char foldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// The second byte of a Latin-1 letter encoded as C3 xx: À..Þ (but not ×) fold to à..þ.
unsigned char foldLatin1(unsigned char c)
{
    return c >= 0x80 && c <= 0x9e && c != 0x97 ? c + 0x20 : c;
}

int sign(bool less)
{
    return less ? -1 : 1;
}

} // namespace

int naturalCompare(std::string_view a, std::string_view b)
{
    // The first difference that folding or number values hide, kept in case nothing else differs.
    int zeros = 0;
    int bytes = 0;
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (isDigit(ca) && isDigit(cb)) {
            size_t si = i;
            size_t sj = j;
            while (si < a.size() && a[si] == '0')
                ++si;
            while (sj < b.size() && b[sj] == '0')
                ++sj;
            size_t ei = si;
            size_t ej = sj;
            while (ei < a.size() && isDigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && isDigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            // Compared as digit strings, so a run of any length neither overflows nor rounds.
            if (ei - si != ej - sj)
                return sign(ei - si < ej - sj);
            const int digits = a.substr(si, ei - si).compare(b.substr(sj, ej - sj));
            if (digits != 0)
                return sign(digits < 0);
            if (zeros == 0 && si - i != sj - j)
                zeros = sign(si - i < sj - j);
            i = ei;
            j = ej;
            continue;
        }
        unsigned char fa = foldAscii(ca);
        unsigned char fb = foldAscii(cb);
        size_t step = 1;
        if (ca == 0xc3 && cb == 0xc3 && i + 1 < a.size() && j + 1 < b.size()) {
            const auto na = static_cast<unsigned char>(a[i + 1]);
            const auto nb = static_cast<unsigned char>(b[j + 1]);
            fa = foldLatin1(na);
            fb = foldLatin1(nb);
            if (bytes == 0 && na != nb)
                bytes = sign(na < nb);
            step = 2;
        } else if (bytes == 0 && ca != cb) {
            bytes = sign(ca < cb);
        }
        if (fa != fb)
            return sign(fa < fb);
        i += step;
        j += step;
    }
    if (i < a.size() || j < b.size())
        return sign(i == a.size());
    return zeros != 0 ? zeros : bytes;
}

bool listedBefore(const ListingKey &a, const ListingKey &b)
{
    if (a.folder != b.folder)
        return a.folder;
    const int names = naturalCompare(a.name, b.name);
    return names != 0 ? names < 0 : a.id < b.id;
}

} // namespace svc
