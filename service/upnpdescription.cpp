#include "service/upnpdescription.h"

#include <array>
#include <cstring>

namespace svc::upnp {

void appendEscapedXml(std::string_view text, std::string &to)
{
    // Sized first, then written byte by byte into place: this escapes whole listings of
    // thousands of objects, where growing the string as it goes would copy it again and again.
    // An apostrophe stays as it is, as libxml2 writes it: some players show "&apos;" literally
    // in a title, and nothing of ours goes into a single-quoted attribute.
    static const char *const entities[] = { nullptr, "&amp;", "&lt;", "&gt;", "&quot;" };
    static const auto kinds = [] {
        std::array<unsigned char, 256> kind {};
        kind[static_cast<unsigned char>('&')] = 1;
        kind[static_cast<unsigned char>('<')] = 2;
        kind[static_cast<unsigned char>('>')] = 3;
        kind[static_cast<unsigned char>('"')] = 4;
        return kind;
    }();
    static const size_t lengths[] = { 1, 5, 4, 4, 6 };
    size_t size = 0;
    for (const char c : text)
        size += lengths[kinds[static_cast<unsigned char>(c)]];
    const size_t start = to.size();
    to.resize(start + size);
    char *out = to.data() + start;
    for (const char c : text) {
        const unsigned char kind = kinds[static_cast<unsigned char>(c)];
        if (kind == 0) {
            *out++ = c;
        } else {
            std::memcpy(out, entities[kind], lengths[kind]);
            out += lengths[kind];
        }
    }
}

std::string escapeXml(const std::string &text)
{
    std::string escaped;
    appendEscapedXml(text, escaped);
    return escaped;
}

std::string deviceDescription(const std::string &friendlyName, const std::string &udn,
                              const std::string &version)
{
    // The icons are 8-bit RGBA PNGs (service/icons/): 32 bits a pixel.
    const auto icon = [](int size, const char *file) {
        const std::string side = std::to_string(size);
        return "<icon><mimetype>image/png</mimetype><width>" + side + "</width><height>" + side
            + "</height><depth>32</depth><url>/" + file + "</url></icon>";
    };
    const auto service = [](const char *type, const char *id, const char *file, const char *name) {
        return std::string("<service><serviceType>") + type + "</serviceType><serviceId>" + id
            + "</serviceId><SCPDURL>/" + file + "</SCPDURL><controlURL>/upnp/control/" + name
            + "</controlURL><eventSubURL>/upnp/event/" + name + "</eventSubURL></service>";
    };
    return std::string(R"(<?xml version="1.0" encoding="utf-8"?>
<root xmlns="urn:schemas-upnp-org:device-1-0" xmlns:dlna="urn:schemas-dlna-org:device-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<device>
<deviceType>)")
        + DeviceType + "</deviceType>\n<friendlyName>" + escapeXml(friendlyName)
        + "</friendlyName>\n"
          "<manufacturer>Velnor</manufacturer>\n"
          "<modelDescription>Velnor Assistant media service: the PC's videos for the "
          "headset</modelDescription>\n"
          "<modelName>KivVelnorService</modelName>\n"
          "<modelNumber>"
        + escapeXml(version)
        + "</modelNumber>\n"
          "<UDN>"
        + escapeXml(udn)
        + "</UDN>\n"
          "<dlna:X_DLNADOC>DMS-1.50</dlna:X_DLNADOC>\n"
          "<iconList>"
        + icon(48, SmallIconFile) + icon(120, LargeIconFile)
        + "</iconList>\n"
          "<serviceList>"
        + service(ContentDirectoryType, "urn:upnp-org:serviceId:ContentDirectory",
                  ContentDirectoryFile, "ContentDirectory")
        + service(ConnectionManagerType, "urn:upnp-org:serviceId:ConnectionManager",
                  ConnectionManagerFile, "ConnectionManager")
        + "</serviceList>\n</device>\n</root>\n";
}

const char *contentDirectoryDescription()
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<scpd xmlns="urn:schemas-upnp-org:service-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<actionList>
<action><name>Browse</name><argumentList>
<argument><name>ObjectID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_ObjectID</relatedStateVariable></argument>
<argument><name>BrowseFlag</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_BrowseFlag</relatedStateVariable></argument>
<argument><name>Filter</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_Filter</relatedStateVariable></argument>
<argument><name>StartingIndex</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_Index</relatedStateVariable></argument>
<argument><name>RequestedCount</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_Count</relatedStateVariable></argument>
<argument><name>SortCriteria</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_SortCriteria</relatedStateVariable></argument>
<argument><name>Result</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Result</relatedStateVariable></argument>
<argument><name>NumberReturned</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Count</relatedStateVariable></argument>
<argument><name>TotalMatches</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Count</relatedStateVariable></argument>
<argument><name>UpdateID</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_UpdateID</relatedStateVariable></argument>
</argumentList></action>
<action><name>GetSearchCapabilities</name><argumentList>
<argument><name>SearchCaps</name><direction>out</direction><relatedStateVariable>SearchCapabilities</relatedStateVariable></argument>
</argumentList></action>
<action><name>GetSortCapabilities</name><argumentList>
<argument><name>SortCaps</name><direction>out</direction><relatedStateVariable>SortCapabilities</relatedStateVariable></argument>
</argumentList></action>
<action><name>GetSystemUpdateID</name><argumentList>
<argument><name>Id</name><direction>out</direction><relatedStateVariable>SystemUpdateID</relatedStateVariable></argument>
</argumentList></action>
<action><name>UpdateObject</name><argumentList>
<argument><name>ObjectID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_ObjectID</relatedStateVariable></argument>
<argument><name>CurrentTagValue</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_TagValueList</relatedStateVariable></argument>
<argument><name>NewTagValue</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_TagValueList</relatedStateVariable></argument>
</argumentList></action>
<action><name>X_SetBookmark</name><argumentList>
<argument><name>CategoryType</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_CategoryType</relatedStateVariable></argument>
<argument><name>RID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_RID</relatedStateVariable></argument>
<argument><name>ObjectID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_ObjectID</relatedStateVariable></argument>
<argument><name>PosSecond</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_PosSec</relatedStateVariable></argument>
</argumentList></action>
</actionList>
<serviceStateTable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_ObjectID</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_Result</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_BrowseFlag</name><dataType>string</dataType>
<allowedValueList><allowedValue>BrowseMetadata</allowedValue><allowedValue>BrowseDirectChildren</allowedValue></allowedValueList></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_Filter</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_SortCriteria</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_Index</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_Count</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_UpdateID</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_TagValueList</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_CategoryType</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_RID</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_PosSec</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>SearchCapabilities</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>SortCapabilities</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="yes"><name>SystemUpdateID</name><dataType>ui4</dataType></stateVariable>
<stateVariable sendEvents="yes"><name>ContainerUpdateIDs</name><dataType>string</dataType></stateVariable>
</serviceStateTable>
</scpd>
)";
}

const char *connectionManagerDescription()
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<scpd xmlns="urn:schemas-upnp-org:service-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<actionList>
<action><name>GetProtocolInfo</name><argumentList>
<argument><name>Source</name><direction>out</direction><relatedStateVariable>SourceProtocolInfo</relatedStateVariable></argument>
<argument><name>Sink</name><direction>out</direction><relatedStateVariable>SinkProtocolInfo</relatedStateVariable></argument>
</argumentList></action>
<action><name>GetCurrentConnectionIDs</name><argumentList>
<argument><name>ConnectionIDs</name><direction>out</direction><relatedStateVariable>CurrentConnectionIDs</relatedStateVariable></argument>
</argumentList></action>
<action><name>GetCurrentConnectionInfo</name><argumentList>
<argument><name>ConnectionID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_ConnectionID</relatedStateVariable></argument>
<argument><name>RcsID</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_RcsID</relatedStateVariable></argument>
<argument><name>AVTransportID</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_AVTransportID</relatedStateVariable></argument>
<argument><name>ProtocolInfo</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_ProtocolInfo</relatedStateVariable></argument>
<argument><name>PeerConnectionManager</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_ConnectionManager</relatedStateVariable></argument>
<argument><name>PeerConnectionID</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_ConnectionID</relatedStateVariable></argument>
<argument><name>Direction</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Direction</relatedStateVariable></argument>
<argument><name>Status</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_ConnectionStatus</relatedStateVariable></argument>
</argumentList></action>
</actionList>
<serviceStateTable>
<stateVariable sendEvents="yes"><name>SourceProtocolInfo</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="yes"><name>SinkProtocolInfo</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="yes"><name>CurrentConnectionIDs</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_ConnectionStatus</name><dataType>string</dataType>
<allowedValueList><allowedValue>OK</allowedValue><allowedValue>ContentFormatMismatch</allowedValue><allowedValue>InsufficientBandwidth</allowedValue><allowedValue>UnreliableChannel</allowedValue><allowedValue>Unknown</allowedValue></allowedValueList></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_ConnectionManager</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_Direction</name><dataType>string</dataType>
<allowedValueList><allowedValue>Input</allowedValue><allowedValue>Output</allowedValue></allowedValueList></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_ProtocolInfo</name><dataType>string</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_ConnectionID</name><dataType>i4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_AVTransportID</name><dataType>i4</dataType></stateVariable>
<stateVariable sendEvents="no"><name>A_ARG_TYPE_RcsID</name><dataType>i4</dataType></stateVariable>
</serviceStateTable>
</scpd>
)";
}

} // namespace svc::upnp
