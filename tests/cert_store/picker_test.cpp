// The certificate picker on a terminal: numbered certificates, the numbers typed back.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "cert_test_support.h"
#include "ui/cert_selection.h"
#include "ui/pty.h"
#include "ui/terminal_dialogs.h"

namespace tx::test {
namespace {

class TerminalPicker : public CertStoreTest {
 protected:
  void SetUp() override { previous_ = ui::InstallDialogs(&terminal_); }
  void TearDown() override { ui::InstallDialogs(previous_); }
  Pty pty_;
  ui::TerminalDialogs terminal_{pty_.name()};
  ui::Dialogs* previous_ = nullptr;
  ScopedEnv lang_{"LC_ALL", "C"};
};

TEST_F(TerminalPicker, RecipientsByNumbersAndSignerCancelled) {
  Put("my", "alice.pem", Identity("alice").cert_and_key, 0600);
  Put("addressbook", "bob.pem", Identity("bob").cert_pem, 0644);
  Put("addressbook", "carol.pem", Identity("carol").cert_pem, 0644);
  // 9 names no row and is refused; after Backspace, rows 3 and 1 (and 3 again) are taken.
  pty_.TypeWhenRaw(
      "9\r\x7f"
      "3, 1 3\r");
  crypto::CertificateList chosen;
  ASSERT_EQ(ui::SelectRecipientCertificates(chosen), 0u);
  pty_.Join();
  std::string drawn = pty_.Drawn();
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0].FingerprintHex(), Identity("alice").fingerprint);  // "my" comes after the address book
  EXPECT_EQ(chosen[1].FingerprintHex(), Identity("bob").fingerprint);
  EXPECT_NE(drawn.find("Select certificates of recipients for encryption."), std::string::npos);
  EXPECT_NE(drawn.find("  1  CN=bob, O=Tessarex Test"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find("SHA-1: " + Identity("carol").fingerprint), std::string::npos);
  EXPECT_NE(drawn.find("No such number."), std::string::npos);

  // One signer only: two numbers are refused, Ctrl-U clears, Escape cancels.
  pty_.TypeWhenRaw("1 1x2\r\x15\x1b");
  EXPECT_EQ(ui::SelectSignerCertificate(chosen), 0x6204u);
  pty_.Join();
  drawn = pty_.Drawn();
  EXPECT_NE(drawn.find("Select certificate of signer for digital signature."), std::string::npos);
  EXPECT_EQ(drawn.find("CN=bob"), std::string::npos) << "the signer comes from \"my\" only";
  EXPECT_FALSE(pty_.Raw()) << "the terminal is given back";

  pty_.TypeWhenRaw("1\r");
  ASSERT_EQ(ui::SelectSignerCertificate(chosen), 0u);
  EXPECT_EQ(chosen.back().FingerprintHex(), Identity("alice").fingerprint);
}

TEST(TerminalPickerAbsent, NoTerminalNoPicker) {
  ui::TerminalDialogs absent("/nonexistent/tty");
  ui::Dialogs* previous = ui::InstallDialogs(&absent);
  crypto::CertificateList chosen;
  EXPECT_EQ(ui::SelectRecipientCertificates(chosen), 0x6102u);
  ui::InstallDialogs(previous);
}

}  // namespace
}  // namespace tx::test
