#include "description.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>

namespace gige {

namespace {

std::string escaped(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// The header names a maker and model as the schema's names are written
// (a letter, then letters, digits and '_'); the registers hold them as they are.
std::string schemaName(const std::string& s)
{
    std::string out;
    for (char c : s)
        out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    if (out.empty() || !std::isalpha(static_cast<unsigned char>(out[0])))
        out.insert(0, "N");
    return out;
}

// Replaces the element that starts with `open` up to and including the next
// `close`; false when there is none.
bool replaceElement(std::string& text, const std::string& open, const std::string& close, const std::string& with)
{
    const size_t begin = text.find(open);
    const size_t end = begin == std::string::npos ? begin : text.find(close, begin);
    if (end == std::string::npos)
        return false;
    text.replace(begin, end + close.size() - begin, with);
    return true;
}

bool insertAfter(std::string& text, const std::string& marker, const std::string& what)
{
    const size_t at = text.find(marker);
    if (at == std::string::npos)
        return false;
    text.insert(at + marker.size(), what);
    return true;
}

// Sets an attribute of the document's RegisterDescription element.
bool setHeaderAttribute(std::string& text, const std::string& name, const std::string& value)
{
    const size_t header = text.find("<RegisterDescription");
    const size_t headerEnd = header == std::string::npos ? header : text.find('>', header);
    const size_t at = headerEnd == std::string::npos ? headerEnd : text.find(name + "=\"", header);
    if (at == std::string::npos || at > headerEnd)
        return false;
    const size_t valueBegin = at + name.size() + 2;
    const size_t valueEnd = text.find('"', valueBegin);
    text.replace(valueBegin, valueEnd - valueBegin, escaped(value));
    return true;
}

// Drops the PixelFormat entries whose value is not in `formats`.
bool cutPixelFormats(std::string& text, const std::vector<unsigned>& formats)
{
    const std::set<unsigned> wanted(formats.begin(), formats.end());
    const size_t enumBegin = text.find("<Enumeration Name=\"PixelFormat\"");
    size_t enumEnd = enumBegin == std::string::npos ? enumBegin : text.find("</Enumeration>", enumBegin);
    if (enumEnd == std::string::npos)
        return false;
    for (size_t at = text.find("<EnumEntry", enumBegin); at != std::string::npos && at < enumEnd;
         at = text.find("<EnumEntry", at)) {
        const std::string closeTag = "</EnumEntry>";
        const size_t end = text.find(closeTag, at);
        const size_t value = text.find("<Value>", at);
        if (end == std::string::npos || value == std::string::npos || end > enumEnd)
            return false;
        const unsigned code = unsigned(std::strtoul(text.c_str() + value + std::strlen("<Value>"), nullptr, 0));
        if (wanted.count(code)) {
            at = end;
            continue;
        }
        text.erase(at, end + closeTag.size() - at);
        enumEnd -= end + closeTag.size() - at;
    }
    return true;
}

// A size or offset bounded by the sensor less its partner (offset or size),
// with the swiss knife that computes that bound.
std::string boundedInteger(const std::string& name, const std::string& description, int64_t min, int64_t inc,
                           const std::string& sensor, const std::string& partner)
{
    const std::string limit = name + "Limit";
    return "<Integer Name=\"" + name + "\" NameSpace=\"Standard\">\n"
        "\t\t<Description>" + description + "</Description>\n"
        "\t\t<pValue>" + name + "Register</pValue>\n"
        "\t\t<Min>" + std::to_string(min) + "</Min>\n"
        "\t\t<pMax>" + limit + "</pMax>\n"
        "\t\t<Inc>" + std::to_string(inc) + "</Inc>\n"
        "\t</Integer>\n\n"
        "\t<IntSwissKnife Name=\"" + limit + "\" NameSpace=\"Custom\">\n"
        "\t\t<pVariable Name=\"SENSOR\">" + sensor + "</pVariable>\n"
        "\t\t<pVariable Name=\"OTHER\">" + partner + "</pVariable>\n"
        "\t\t<Formula>SENSOR - OTHER</Formula>\n"
        "\t</IntSwissKnife>";
}

// The standard names next to the simulator's older ones, on the same registers.
const char* const kStandardNames = R"(
	<Float Name="ExposureTime" NameSpace="Standard">
		<Description>Exposure duration, in microseconds.</Description>
		<pValue>ExposureTimeAbsConverter</pValue>
		<Min>10.0</Min>
		<Max>10000000.0</Max>
	</Float>

	<Float Name="Gain" NameSpace="Standard">
		<Description>Gain, in the steps of the gain register (as GainRaw).</Description>
		<pValue>GainConverter</pValue>
		<Min>0</Min>
		<Max>10</Max>
	</Float>

	<Converter Name="GainConverter" NameSpace="Custom">
		<FormulaTo>FROM</FormulaTo>
		<FormulaFrom>TO</FormulaFrom>
		<pValue>GainRawRegister</pValue>
	</Converter>

	<StringReg Name="DeviceSerialNumber" NameSpace="Standard">
		<DisplayName>Serial Number</DisplayName>
		<Address>0xd8</Address>
		<Length>16</Length>
		<AccessMode>RO</AccessMode>
		<pPort>Device</pPort>
	</StringReg>

)";

} // namespace

bool SensorBounds::accepts(int64_t width, int64_t height, int64_t offsetX, int64_t offsetY) const
{
    auto stepped = [](int64_t v, int64_t from, int64_t inc) { return v >= from && (v - from) % inc == 0; };
    return stepped(width, widthMin, widthInc) && stepped(height, heightMin, heightInc)
        && stepped(offsetX, 0, offsetXInc) && stepped(offsetY, 0, offsetYInc) && width + offsetX <= sensorWidth
        && height + offsetY <= sensorHeight;
}

std::string describe(const std::string& simulatorXml, const DescribedDevice& device, std::string* why)
{
    std::string text = simulatorXml;
    const SensorBounds& b = device.bounds;
    const bool ok = setHeaderAttribute(text, "VendorName", schemaName(device.maker))
        && setHeaderAttribute(text, "ModelName", schemaName(device.model))
        && setHeaderAttribute(text, "ToolTip", device.maker + " " + device.model)
        && cutPixelFormats(text, device.pixelFormats)
        && replaceElement(text, "<Integer Name=\"Width\"", "</Integer>",
                          boundedInteger("Width", "Width of image, in pixels.", b.widthMin, b.widthInc, "SensorWidth",
                                         "OffsetX"))
        && replaceElement(text, "<Integer Name=\"Height\"", "</Integer>",
                          boundedInteger("Height", "Height of image, in pixels.", b.heightMin, b.heightInc,
                                         "SensorHeight", "OffsetY"))
        && replaceElement(text, "<Integer Name=\"OffsetX\"", "</Integer>",
                          boundedInteger("OffsetX", "X offset of image, in pixels.", 0, b.offsetXInc, "SensorWidth",
                                         "Width"))
        && replaceElement(text, "<Integer Name=\"OffsetY\"", "</Integer>",
                          boundedInteger("OffsetY", "Y offset of image, in pixels.", 0, b.offsetYInc, "SensorHeight",
                                         "Height"))
        && replaceElement(text, "<pVariable Name=\"PIXELFORMAT\">", "</pVariable>",
                          "<pVariable Name=\"PIXELFORMAT\">PixelFormatRegister</pVariable>")
        && insertAfter(text, "<pFeature>DeviceID</pFeature>", "\n\t\t<pFeature>DeviceSerialNumber</pFeature>")
        && insertAfter(text, "<pFeature>ExposureTimeAbs</pFeature>", "\n\t\t<pFeature>ExposureTime</pFeature>")
        && insertAfter(text, "<pFeature>GainRaw</pFeature>", "\n\t\t<pFeature>Gain</pFeature>");
    const size_t end = text.rfind("</RegisterDescription>");
    if (!ok || end == std::string::npos) {
        *why = "the simulator's description lacks a node lorvexgige rewrites";
        return {};
    }
    text.insert(end, kStandardNames);
    return text;
}

} // namespace gige
