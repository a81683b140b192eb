#pragma once

#include <QDate>
#include <QJsonObject>
#include <QString>

namespace client {

// The radio identity and model of a device described in a request's JSON content.
struct GroupDevice {
    QString manId;
    qint64 identNum = -1;
    qint64 ver = -1;
    qint64 devType = -1;
    qint64 modelId = -1;
    QString zavNum;

    QString identityKey() const;
    // The columns "ManId", "IdentNum", "Ver", "DevType" as SQL values.
    QString identityValues() const;
};

// A meter on a channel of a concentrator or of a LoRa device: its identity, where it is
// installed, and how its pulses are counted ("JsonData" of its channel row).
struct ChannelMeter : GroupDevice {
    qint64 deviceId = 0; // an existing meter the element names, 0 for a new one
    qint64 channel = -1;
    QDate dateInstall;
    qint64 objectId = -1;
    qint64 transKoef = 1;
    QString note;
    qint64 titleId = -1;
    qint64 edId = -1;
    qint64 postfixNum = 0;
    double impW = -1;
    double startVal = -99999999;

    // {"imp":[{"titleId", "edId", "postfixNum", "impW", "startVal"}]} in this key order,
    // indented, as the data-collection component reads it.
    QString channelData() const;
};

// A channel row of a group as it is stored.
struct GroupChannel {
    qint64 rowId;
    qint64 deviceId;
    qint64 channel;
    qint64 masterId; // 0 for none
};

// How the elements of one kind of group are read.
struct ChannelRules {
    const char* objectKey = "objId"; // nullptr: the object is given once for the whole group
    bool checkNote = false;          // the note must pass the text rule of notes
    bool readsDeviceId = false;      // "deviceId" names an existing meter (240 when malformed)
};

// The identity of a concentrator, with the codes of a missing field (99 to 102) and of a
// value out of range (103, 15, 17, 84, 216). 0 when it is whole.
quint16 readConcentratorIdentity(const QJsonObject& object, GroupDevice* device);
// The identity of a device on a channel or of a hub: a missing field fails its range.
quint16 readDeviceIdentity(const QJsonObject& object, GroupDevice* device);
// One channel element in the order its fields are checked; 0 or the refusal code.
quint16 readChannelMeter(const QJsonObject& element, const ChannelRules& rules, const QDate& today, ChannelMeter* meter);
// Whether an element describes a meter at all (it names an identity field).
bool describesMeter(const QJsonObject& element);
// The text rule of notes: at most 200 characters of letters, digits, blanks and the signs
// . , - № / ( ), and never "--".
bool isAcceptableNote(const QString& note);
// A DevEUI: one to sixteen hexadecimal digits, compared and stored in upper case.
bool readDevEui(const QJsonValue& value, QString* eui);

} // namespace client
