// Capabilities: the protocol array, the built-in table, and the step from
// product data to a ready session.
#include <cstring>
#include <map>
#include <set>

#include "link/product.h"
#include "link_unit.h"
#include "wire.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Array(std::initializer_list<std::pair<char, int>> entries)
{
    Bytes out;
    for (auto [tag, number] : entries) {
        out.push_back(static_cast<unsigned char>(tag));
        out.push_back(static_cast<unsigned char>(number & 0xFF));
        out.push_back(static_cast<unsigned char>(number >> 8));
    }
    return out;
}

TEST(ProtocolArray, EntriesFillTheirSlotsAndLaterOnesWin)
{
    Bytes array = Array({{'P', 0}, {'L', 1}, {'A', 100}, {'D', 103}, {'A', 200}, {'D', 201}, {'D', 108}, {'X', 5}});
    array.push_back('A'); // a trailing partial entry
    ProtocolCaps *caps = ParseProtocolArray(array.data(), static_cast<int>(array.size()));
    EXPECT_EQ(caps->protocolSlots[1], 100);
    EXPECT_EQ(caps->protocolSlots[2], 200);
    EXPECT_EQ(caps->protocolSlots[10], 108);
    EXPECT_EQ(caps->protocolSlots[11], 201);
    EXPECT_EQ(caps->linkProtocol, 1);
    EXPECT_EQ(caps->protocolSlots[13], -1);
    int used = 0;
    for (int16_t slot : caps->protocolSlots)
        used += slot != -1;
    EXPECT_EQ(used, 4);
    free(caps);
}

TEST(ProtocolArray, ProximityWaypointsBorrowTheWaypointType)
{
    Bytes array = Array({{'A', 400}, {'D', 104}, {'D', 2100}, {'A', 5000}});
    ProtocolCaps *caps = ParseProtocolArray(array.data(), static_cast<int>(array.size()));
    EXPECT_EQ(caps->protocolSlots[4], 400);
    EXPECT_EQ(caps->protocolSlots[13], 104);
    EXPECT_EQ(caps->protocolSlots[29], -1) << "D2100 would lie beyond the last slot";
    free(caps);
}

TEST(ProtocolArray, DataTypesBelongToTheProtocolBeforeThem)
{
    Bytes array = Array({{'A', 201}, {'D', 202}, {'D', 108}, {'D', 210}});
    ProtocolCaps *caps = ParseProtocolArray(array.data(), static_cast<int>(array.size()));
    EXPECT_EQ(caps->protocolSlots[SlotRouteHeaderType], 202);
    EXPECT_EQ(caps->routeLinkType, 210);
    EXPECT_EQ(caps->protocolSlots[SlotWaypointType], 108);
    free(caps);

    array = Array({{'P', 0}, {'L', 1}, {'A', 10}, {'A', 100}, {'D', 108}, {'A', 201}, {'D', 202}, {'D', 108},
                  {'D', 210}, {'A', 301}, {'D', 310}, {'D', 301}});
    caps = ParseProtocolArray(array.data(), static_cast<int>(array.size()));
    EXPECT_EQ(caps->protocolSlots[SlotTrackPointType], 301);
    EXPECT_EQ(caps->trackHeaderType, 310);
    free(caps);

    // Links and headers after the wrong protocol are no one's, and never
    // take the header or point slot.
    array = Array({{'A', 200}, {'D', 201}, {'D', 210}, {'A', 300}, {'D', 300}, {'D', 310}});
    caps = ParseProtocolArray(array.data(), static_cast<int>(array.size()));
    EXPECT_EQ(caps->protocolSlots[SlotRouteHeaderType], 201);
    EXPECT_EQ(caps->routeLinkType, -1);
    EXPECT_EQ(caps->protocolSlots[SlotTrackPointType], 300);
    EXPECT_EQ(caps->trackHeaderType, -1);
    free(caps);
}

TEST(CapsTable, FiftyRowsOfFortyFiveProductsInVersionBands)
{
    std::map<int, std::vector<const ProtocolCaps *>> byId;
    for (int i = 0; i < ProductCapsRows; i++) {
        if (i > 0) {
            EXPECT_LE(ProductCapsTable[i - 1].productId, ProductCapsTable[i].productId) << "sorted";
        }
        byId[ProductCapsTable[i].productId].push_back(&ProductCapsTable[i]);
    }
    EXPECT_EQ(byId.size(), 45u);
    std::multiset<size_t> bands;
    for (auto &[id, rows] : byId) {
        if (rows.size() == 1) {
            EXPECT_EQ(rows[0]->versionFloor, 0);
            EXPECT_EQ(rows[0]->versionLimit, 32767);
            continue;
        }
        bands.insert(rows.size());
        EXPECT_EQ(rows.front()->versionFloor, 0);
        EXPECT_EQ(rows.back()->versionLimit, 32767);
        for (size_t i = 1; i < rows.size(); i++)
            EXPECT_EQ(rows[i]->versionFloor, rows[i - 1]->versionLimit) << "adjacent bands of " << id;
    }
    EXPECT_EQ(bands, (std::multiset<size_t>{2, 2, 4}));

    std::set<int> waypointTypes, routeTypes;
    for (const ProtocolCaps &row : ProductCapsTable) {
        waypointTypes.insert(100 + row.protocolSlots[10]);
        routeTypes.insert(200 + row.protocolSlots[11]);
    }
    EXPECT_EQ(waypointTypes,
              (std::set<int>{100, 102, 103, 104, 105, 106, 107, 108, 109, 150, 151, 152, 154, 155}));
    EXPECT_EQ(routeTypes, (std::set<int>{200, 201, 202}));
}

TEST(CapsTable, VersionsFindTheirBand)
{
    const ProtocolCaps *banded = nullptr;
    for (const ProtocolCaps &row : ProductCapsTable)
        if (row.versionLimit != 32767) {
            banded = &row;
            break;
        }
    ASSERT_NE(banded, nullptr);
    EXPECT_EQ(FindProductCaps(banded->productId, banded->versionLimit - 1), banded);
    EXPECT_NE(FindProductCaps(banded->productId, banded->versionLimit), banded);
    EXPECT_EQ(FindProductCaps(ProductCapsTable[0].productId, 32766), &ProductCapsTable[0]);
    EXPECT_EQ(FindProductCaps(ProductCapsTable[0].productId, 32767), nullptr);
    EXPECT_EQ(FindProductCaps(65000, 100), nullptr);
}

struct Call {
    int code, value, productId, version;
    std::string description;
};
std::vector<Call> calls;

void HALVEX_CALL Record(int32_t code, int32_t value, HostProductInfo *info)
{
    Call call{code, value, info->productId, info->softwareVersion, {}};
    for (UINT i = 0; i < SysStringLen(info->description); i++)
        call.description += static_cast<char>(info->description[i]);
    calls.push_back(call);
}

class Identification : public LinkUnit {
protected:
    void SetUp() override
    {
        LinkUnit::SetUp();
        calls.clear();
        Link()->objective = ObjectiveProduct;
        // a request under way, its record as the export makes it
        Link()->identification = static_cast<IdentificationRecord *>(calloc(1, sizeof(IdentificationRecord)));
        Link()->identification->callback = Record;
    }
};

TEST_F(Identification, ATableRowSynthesizesTheArrayInFamilyOrder)
{
    const ProtocolCaps &row = ProductCapsTable[ProductCapsRows - 1];
    Bytes data = {static_cast<unsigned char>(row.productId), static_cast<unsigned char>(row.productId >> 8), 44, 1};
    const char text[] = "Halvex \xE9tape";
    data.insert(data.end(), text, text + sizeof text);
    ProductHandler(session, 255 + 4, data.data(), static_cast<int>(data.size()));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, 0);
    EXPECT_EQ(calls[0].productId, row.productId);
    EXPECT_EQ(calls[0].version, 300);
    EXPECT_EQ(calls[0].description.size(), 12u);
    EXPECT_EQ(static_cast<unsigned char>(calls[0].description[7]), 0xE9) << "widened and back";
    EXPECT_EQ(LinkObjective(session), ObjectiveReady);
    for (int family = 1; family <= 8; family++) {
        int16_t slot = row.protocolSlots[9 + family];
        EXPECT_EQ(ReceiverCaps(session)->protocolSlots[9 + family], slot == -1 ? -1 : family * 100 + slot);
    }
    EXPECT_EQ(Link()->identification, nullptr) << "identified: its record and timer are gone";
}

TEST_F(Identification, AnArrayBeforeAnyProductDataIsAFailure)
{
    Bytes array = Array({{'A', 100}, {'D', 103}});
    ProductHandler(session, 253 + 4, array.data(), static_cast<int>(array.size()));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, 2);
    EXPECT_EQ(ReceiverCaps(session), nullptr);
    EXPECT_EQ(LinkObjective(session), ObjectiveReady) << "ended, the receiver unknown";
    EXPECT_EQ(Count("Product data request failed\n"), 1);
}

TEST_F(Identification, ShortProductDataReadsAsZeros)
{
    Bytes data = {0x39};
    ProductHandler(session, 255 + 4, data.data(), 1);
    EXPECT_NE(Link()->identification->timer, nullptr) << "no row: the receiver's array is awaited";
    Bytes array = Array({{'A', 100}});
    ProductHandler(session, 253 + 4, array.data(), 3);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].productId, 0x39);
    EXPECT_EQ(calls[0].description, "");
}

// A NAK after the request was acknowledged gives the exchange up: that is
// the identification's one outcome, whatever comes after it.
TEST_F(Identification, AStrayNakEndsTheRequestWithExactlyOneReport)
{
    HalvexProductCallback callback = Record;
    ASSERT_EQ(HalvexGetProductInfoInit(session, &callback), 1);
    Feed(halvexsim::EncodePacket(6, {254, 0}));
    ASSERT_NE(Link()->identification->timer, nullptr);
    Feed(halvexsim::EncodePacket(21, {254, 0}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, 2);
    EXPECT_EQ(Link()->identification, nullptr) << "ended: no time-out left to report again";
    const ProtocolCaps &row = ProductCapsTable[0];
    Feed(halvexsim::EncodePacket(255, {static_cast<uint8_t>(row.productId), static_cast<uint8_t>(row.productId >> 8),
                                       1, 0, 'X', 0}));
    EXPECT_EQ(calls.size(), 1u) << "product data that comes late reports nothing";
    EXPECT_EQ(LinkObjective(session), ObjectiveReady);
    EXPECT_EQ(ReceiverCaps(session), nullptr) << "nor makes the receiver known";
}

TEST_F(Identification, LineErrorsReachOnlyIdentificationCallbacks)
{
    HalvexErrorProc(session, 0x08);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].code, 1);
    EXPECT_EQ(calls[0].value, 0x08);
    Link()->objective = ObjectiveWaypointUpload;
    HalvexErrorProc(session, 0x08);
    Link()->objective = ObjectiveReady;
    HalvexErrorProc(session, 0x08);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Count("HalvexErrorProc(): Unknown objective\n"), 1);
}

} // namespace
