// The simulated ASPI manager through its two entry points, as the stand-in library exports them.
#include "sim/aspi_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/system_os.h"

namespace {

class AspiManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uint8_t unique[16];
    sim::SetHaUnique(unique, 0x0203, 16, 0x00010000);
    manager_.AddAdapter(unique);
    manager_.AddTarget(0, 1, &drive_);
  }
  std::unique_ptr<platform::WindowsOs> system_ = testsupport::NewSystemOs();
  sim::AspiManager manager_;
  sim::AspiManagerOs os_{*system_, manager_};
  sim::BasicDevice drive_{sim::SupportedDriveIdentity()};
};

TEST_F(AspiManagerTest, ReportsAdaptersAndDeviceTypes) {
  EXPECT_EQ(sim::AspiGetSupportInfo(), 0x0101u);  // SS_COMP, one adapter
  SRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  EXPECT_EQ(sim::AspiSendCommand(&inquiry), SS_COMP);
  EXPECT_EQ(inquiry.HA_Count, 1);
  const uint8_t expected[8] = {0x03, 0x02, 0x00, 16, 0x00, 0x00, 0x01, 0x00};
  EXPECT_EQ(0, std::memcmp(inquiry.HA_Unique, expected, 8));

  SRB_GDEVBlock type{};
  type.SRB_Cmd = SC_GET_DEV_TYPE;
  type.SRB_Target = 1;
  EXPECT_EQ(sim::AspiSendCommand(&type), SS_COMP);
  EXPECT_EQ(type.SRB_DeviceType, 5);
  type.SRB_Target = 2;
  sim::AspiSendCommand(&type);
  EXPECT_EQ(type.SRB_Status, SS_NO_DEVICE);
}

TEST_F(AspiManagerTest, ExecutesOnTheDeviceWithTargetStatusAndSense) {
  manager_.SetCompletion(sim::AspiCompletion::kImmediate);
  SRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_Target = 1;
  srb.SRB_SenseLen = SENSE_LEN;
  srb.SRB_CDBLen = 6;
  srb.CDBByte[0] = 0xF9;
  EXPECT_EQ(sim::AspiSendCommand(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, sim::kStatusCheckCondition);
  EXPECT_EQ(srb.SenseArea[2], 0x05);
  EXPECT_EQ(srb.SenseArea[12], 0x20);

  srb.SRB_Target = 9;  // nobody there
  EXPECT_EQ(sim::AspiSendCommand(&srb), SS_ERR);
  EXPECT_EQ(srb.SRB_HaStat, HASTAT_SEL_TO);
}

TEST_F(AspiManagerTest, LoadsByNameInAnyCaseAndRecordsTheFree) {
  void* library = os_.loadLibrary("wnaspi32");
  EXPECT_EQ(library, sim::AspiManager::LibraryToken());
  EXPECT_EQ(os_.loadLibrary("WNASPI32.DLL"), library);
  EXPECT_EQ(os_.getProcAddress(library, "SendASPI32Command"),
            reinterpret_cast<void*>(&sim::AspiSendCommand));
  EXPECT_EQ(os_.getProcAddress(library, "DoCheck"), nullptr);
  os_.freeLibrary(library);
  EXPECT_EQ(manager_.librariesFreed(), 1u);
}

}  // namespace
