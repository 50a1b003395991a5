#include <gtest/gtest.h>

#include "engine/settings/VexaBase.h"

TEST(SelectDNSServers, ConfiguredServersAndBlankFallback) {
  AutoDetectDNS = false;
  DNSPrimary = "127.0.0.53";
  DNSSecondary = " 127.0.0.54";
  SelectDNSServers();
  EXPECT_EQ(CurrentDNSPrimary.get(), "127.0.0.53");
  EXPECT_EQ(CurrentDNSSecondary.get(), " 127.0.0.54");  // used untrimmed
  DNSPrimary = "  ";
  DNSSecondary = "";
  SelectDNSServers();
  EXPECT_EQ(CurrentDNSPrimary.get(), DefaultDNSPrimary);
  EXPECT_EQ(CurrentDNSSecondary.get(), DefaultDNSSecondary);
}

TEST(SelectDNSServers, DetectedServersComeFirst) {
  AutoDetectDNS = true;
  DNSPrimary = "127.0.0.53";
  DNSSecondary = "127.0.0.54";
  std::vector<std::string> System;
  GetDNSServers(System);
  SelectDNSServers();
  if (System.empty()) {
    EXPECT_EQ(CurrentDNSPrimary.get(), "127.0.0.53");
  } else {
    EXPECT_EQ(CurrentDNSPrimary.get(), System[0]);
    EXPECT_EQ(CurrentDNSSecondary.get(), System.size() > 1 ? System[1] : std::string(DefaultDNSSecondary));
  }
  AutoDetectDNS = false;
}
