// The contents-listing document: one Content element per record, for every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "pim/pim.h"
#include "unit/xml/golden.h"
#include "xml/xml.h"

namespace {

using golden::Put;

std::string NoDtd() { return std::string(); }

// The listing text, without DTD, of records appended one by one.
class Listing {
public:
    Listing() {
        m_tree.create();
        m_root = StartContentsListing(m_tree);
    }
    bool Append(const void *record, uint32_t kind) { return AppendContentElement(m_root, record, kind); }
    std::string Text() const { return ComposeAgentXml(m_tree.document(), NoDtd); }

private:
    XmlTree m_tree;
    XmlNodeRef m_root;
};

CallRecord Call(const char *number, const char *name, const char *callType,
                const char *startTime = "20100305T090703Z") {
    CallRecord call{};
    Put(call.ID, "3c");
    Put(call.number, number);
    Put(call.name, name);
    Put(call.startTime, startTime);
    Put(call.callType, callType);
    return call;
}

MessageRecord Message(const char *party, const char *dateTime, const char *text) {
    MessageRecord message{};
    Put(message.ID, "5a");
    Put(message.party, party);
    Put(message.dateTime, dateTime);
    Put(message.text, text);
    return message;
}

TEST(ContentsListing, EveryKindInOneListing) {
    Listing listing;
    ContactRecord contact{};
    Put(contact.ID, "8001");
    Put(contact.composedName, "HongGildong");
    EXPECT_TRUE(listing.Append(&contact, KIND_CONTACTS));
    ContactRecord anonymous{};  // no ID, no name: Group and Type only
    EXPECT_TRUE(listing.Append(&anonymous, KIND_CONTACTS));

    AppointmentRecord appointment{};
    Put(appointment.ID, "9002");
    Put(appointment.TITLE, "Team  meeting <room 3>");
    EXPECT_TRUE(listing.Append(&appointment, KIND_APPOINTMENTS));

    const CallRecord received = Call("01012345678", "Kim Minsu", "2054");
    const CallRecord numberOnly = Call("0212345678", "", "7");
    const CallRecord nameOnly = Call("", "Park", "3");
    const CallRecord noStart = Call("114", "", "4", "");
    for (const CallRecord *call : {&received, &numberOnly, &nameOnly, &noStart}) {
        EXPECT_TRUE(listing.Append(call, KIND_CALLS));
    }

    const MessageRecord inbox = Message("01099998888", "20100305T101500Z", "See you  at\nseven");
    const MessageRecord outbox = Message("01077776666", "", "");
    EXPECT_TRUE(listing.Append(&inbox, KIND_SMS_RECV));
    EXPECT_TRUE(listing.Append(&outbox, KIND_SMS_SENT));

    PackageInfo package{};
    Put(package.applicationId, "com.morvane.sync");
    Put(package.version, "2.1.0");
    EXPECT_TRUE(listing.Append(&package, KIND_PACKAGE));
    PackageInfo noVersion{};
    Put(noVersion.applicationId, "com.morvane.viewer");
    EXPECT_TRUE(listing.Append(&noVersion, KIND_PACKAGE));
    PackageInfo noId{};
    Put(noId.version, "1.0");
    EXPECT_FALSE(listing.Append(&noId, KIND_PACKAGE));  // leaves <Content/>
    EXPECT_FALSE(listing.Append(nullptr, KIND_PACKAGE));
    EXPECT_TRUE(listing.Append(&contact, 0x21));  // unknown kind: <Content/>

    EXPECT_TRUE(golden::MatchesGolden(listing.Text(), "contents_every_kind.txt"));
}

TEST(ContentsListing, CallTypesMapToTheirTypeTexts) {
    const struct {
        const char *callType;
        const char *type;
    } cases[] = {
        {"2055", "callhistory/sent"},  {"7", "callhistory/sent"},        {"2053", "callhistory/callfail"},
        {"5", "callhistory/callfail"}, {"2054", "callhistory/recv"},     {"6", "callhistory/recv"},
        {"2052", "callhistory/miss"},  {"4", "callhistory/miss"},        {"3", "callhistory/unknown"},
        {"07", "callhistory/unknown"}, {"20555", "callhistory/unknown"}, {"", "callhistory/unknown"},
    };
    for (const auto &c : cases) {
        Listing listing;
        const CallRecord call = Call("010", "", c.callType);
        listing.Append(&call, KIND_CALLS);
        EXPECT_NE(listing.Text().find(std::string("\r\n<Type>") + c.type + "</Type>\r\n"), std::string::npos)
            << "call type \"" << c.callType << "\"";
    }
}

TEST(ContentsListing, EmptyListingAndUnterminatedFields) {
    EXPECT_EQ(Listing().Text(), "<?xml version=\"1.0\"?>\r\n<Contents-listing Version=\"1.0\"/>");

    // Fields filled to their last byte: the text stops at the field's end.
    CallRecord full{};
    std::fill(std::begin(full.ID), std::end(full.ID), 'a');
    std::fill(std::begin(full.number), std::end(full.number), '1');
    std::fill(std::begin(full.name), std::end(full.name), 'n');
    Listing listing;
    listing.Append(&full, KIND_CALLS);
    const std::string text = listing.Text();
    EXPECT_NE(text.find("<ID>" + std::string(32, 'a') + "</ID>"), std::string::npos);
    // The title is formed in 64 characters: number, ';' and as much of the name as fits.
    EXPECT_NE(text.find("<Title>" + std::string(32, '1') + ";" + std::string(30, 'n') + "</Title>"), std::string::npos);
}

}  // namespace
