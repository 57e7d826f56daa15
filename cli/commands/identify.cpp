#include "commands/identify.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

namespace halvex {

namespace {

std::string Version(int hundredths)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
    return text;
}

// A data type as receivers name it (D108), or "" for none.
std::string TypeName(int type) { return type ? "D" + std::to_string(type) : ""; }

// "D202 headers, D210 links": the parts the receiver has, or "none".
std::string TypesLine(int main, const char *mainWhat, int extra, const char *extraWhat)
{
    if (!main)
        return "none";
    return TypeName(main) + " " + mainWhat + (extra ? ", " + TypeName(extra) + " " + extraWhat : "");
}

nlohmann::json TypeJson(int type) { return type ? nlohmann::json(type) : nlohmann::json(nullptr); }

} // namespace

int Identify(const Options &options, bool json)
{
    Connection connection(options);
    Product product = connection.Identify();
    const DataTypes &types = product.types;
    std::string protocols;
    for (const std::string &protocol : product.protocols)
        protocols += (protocols.empty() ? "" : " ") + protocol;
    if (json) {
        nlohmann::json out = {{"product_id", product.id},
                              {"software_version", Version(product.version)},
                              {"description", product.description},
                              {"protocols", product.protocols},
                              {"types",
                               {{"waypoint", TypeJson(types.waypoint)},
                                {"route_header", TypeJson(types.routeHeader)},
                                {"route_link", TypeJson(types.routeLink)},
                                {"track_header", TypeJson(types.trackHeader)},
                                {"track_point", TypeJson(types.trackPoint)}}},
                              {"types_from", product.typesFromTable ? "table" : "receiver"},
                              {"ident_width", product.identWidth},
                              {"comment_width", product.commentWidth},
                              {"port", connection.Device()},
                              {"simulated", connection.Simulated()}};
        std::cout << out.dump(2) << std::endl;
    } else {
        std::cout << "Product id:       " << product.id << "\n"
                  << "Software version: " << Version(product.version) << "\n"
                  << "Description:      " << product.description << "\n"
                  << "Protocols:        " << protocols
                  << (product.typesFromTable ? " (from the library's table of receivers)" : "") << "\n"
                  << "Waypoints:        "
                  << (types.waypoint ? TypeName(types.waypoint) + ", names of " + std::to_string(product.identWidth) +
                                           " characters, comments of " + std::to_string(product.commentWidth)
                                     : std::string("none"))
                  << "\n"
                  << "Routes:           " << TypesLine(types.routeHeader, "headers", types.routeLink, "links") << "\n"
                  << "Tracks:           " << TypesLine(types.trackPoint, "points", types.trackHeader, "headers")
                  << std::endl;
    }
    return 0;
}

} // namespace halvex
