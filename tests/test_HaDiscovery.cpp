// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/HaDiscovery.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <set>

using namespace zub3::cli;

namespace {

QJsonObject parsed(const MqttMessage& m)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << m.topic << ": " << m.payload;
    return doc.object();
}

}  // namespace

TEST(HaDiscovery, OneDeviceOfButtonsDiagonalsChannelsAndTheLink)
{
    const auto configs = DiscoveryConfigs("homeassistant", "fleet/arm.1");
    std::map<std::string, int> components;
    std::set<std::string> topics, ids;
    for (const MqttMessage& m : configs) {
        SCOPED_TRACE(m.topic);
        const QJsonObject o = parsed(m);
        // homeassistant/COMPONENT/NODE/OBJECT/config, with levels Home Assistant takes.
        const auto levels = QString::fromStdString(m.topic).split('/');
        ASSERT_EQ(levels.size(), 5);
        EXPECT_EQ(levels[0], "homeassistant");
        EXPECT_EQ(levels[2], "fleet_arm_1");
        EXPECT_EQ(levels[4], "config");
        EXPECT_FALSE(levels[3].contains(' '));
        ++components[levels[1].toStdString()];
        topics.insert(m.topic);
        ids.insert(o["unique_id"].toString().toStdString());
        EXPECT_EQ(o["state_topic"].toString(), "fleet/arm.1/state");
        EXPECT_EQ(o["device"].toObject()["identifiers"].toArray().at(0).toString(), "fleet_arm_1");
        // Every entity but the link is unavailable while the receiver is.
        if (o["name"] == "link")
            EXPECT_FALSE(o.contains("availability_topic"));
        else
            EXPECT_EQ(o["availability_topic"].toString(), "fleet/arm.1/online");
    }
    EXPECT_EQ(components, (std::map<std::string, int>{{"binary_sensor", 20}, {"sensor", 5}}));
    EXPECT_EQ(topics.size(), configs.size());
    EXPECT_EQ(ids.size(), configs.size());
    // A diagonal is on while both of its buttons are held.
    const auto diagonal = std::find_if(configs.begin(), configs.end(), [](const MqttMessage& m) {
        return m.topic.find("/cross_circle/") != std::string::npos;
    });
    ASSERT_NE(diagonal, configs.end());
    EXPECT_EQ(parsed(*diagonal)["value_template"].toString(),
              "{{ 'ON' if 'cross' in value_json.held and 'circle' in value_json.held else 'OFF' }}");
}

TEST(HaDiscovery, APrefixWithQuotesStaysValidJson)
{
    for (const MqttMessage& m : DiscoveryConfigs("ha", "robots/\"arm\"\\1")) {
        SCOPED_TRACE(m.topic);
        EXPECT_EQ(parsed(m)["state_topic"].toString(), "robots/\"arm\"\\1/state");
    }
}
