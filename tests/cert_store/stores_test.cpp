// The certificate stores, the pickers and the preset choice, through the selection
// routines, on stores made in a temporary data folder with keys made by openssl.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "cert_test_support.h"
#include "platform/cert_files.h"
#include "scripted_ui.h"
#include "test_support.h"
#include "ui/cert_selection.h"
#include "ui/cert_store.h"

namespace tx::test {
namespace {

using crypto::CertificateList;

class Stores : public CertStoreTest {};

std::vector<std::string> Prints(const CertificateList& list) {
  std::vector<std::string> out;
  for (const auto& c : list) out.push_back(c.FingerprintHex());
  return out;
}

TEST_F(Stores, MissingStoresDoNotOpenAndPickersSaySo) {
  CertificateList list;
  EXPECT_FALSE(ui::OpenPersonalStore(list));
  EXPECT_FALSE(ui::OpenAddressBook(list));
  ScriptedUi ui;
  EXPECT_EQ(ui::SelectSignerCertificate(list), 0x6201u);
  // Without an answer queued the scripted picker does not open, as without a terminal.
  EXPECT_EQ(ui::SelectRecipientCertificates(list), 0x6102u);
  Put("my", "alice.pem", Identity("alice").cert_and_key, 0600);
  EXPECT_EQ(ui::SelectSignerCertificate(list), 0x6202u);
}

TEST_F(Stores, FilesAreReadWithCareAndEachCertificateOfferedOnce) {
  const auto& alice = Identity("alice");
  const auto& bob = Identity("bob");
  Put("my", "alice.pem", alice.cert_and_key, 0600);
  Put("addressbook", "alice.der", alice.cert_der, 0644);  // the same certificate again
  Put("addressbook", "bob.pem", bob.cert_pem, 0644);
  Put("addressbook", "junk.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n",
      0644);
  Put("addressbook", "huge.der", bob.cert_der + std::string(platform::kCertFileLimit, 'x'), 0644);
  std::filesystem::create_directory(Folder("addressbook") + "/sub");
  std::filesystem::create_symlink(Folder("addressbook") + "/bob.pem", Folder("addressbook") + "/link.pem");
  ::mkfifo((Folder("addressbook") + "/fifo").c_str(), 0644);

  CertificateList book;
  ASSERT_TRUE(ui::OpenAddressBook(book));
  EXPECT_EQ(Prints(book), (std::vector<std::string>{alice.fingerprint, bob.fingerprint}));
  EXPECT_EQ(book[1].origin, Folder("addressbook") + "/bob.pem");

  ScriptedUi ui;
  ui.dialogs.AnswerPick({bob.fingerprint, alice.fingerprint});
  CertificateList chosen;
  ASSERT_EQ(ui::SelectRecipientCertificates(chosen), 0u);
  ASSERT_EQ(ui.dialogs.record().picks.size(), 1u);
  const auto& pick = ui.dialogs.record().picks[0];
  EXPECT_TRUE(pick.several);
  EXPECT_EQ(pick.prompt, "Select certificates of recipients for encryption.");
  ASSERT_EQ(pick.rows.size(), 2u);  // alice once, though both stores hold her
  EXPECT_EQ(pick.rows[1].subject, "CN=bob, O=Tessarex Test");
  EXPECT_EQ(pick.rows[1].serial, bob.serial);
  EXPECT_EQ(Prints(chosen).size(), 2u);

  // Nothing chosen is no error; the recipients stay empty.
  ui.dialogs.AnswerPick({});
  ASSERT_EQ(ui::SelectRecipientCertificates(chosen), 0u);
  EXPECT_TRUE(chosen.empty());
}

TEST_F(Stores, SignerPickerOffersOnlyMyAndCancelIsNoneChosen) {
  Put("my", "alice.pem", Identity("alice").cert_and_key, 0600);
  Put("addressbook", "bob.pem", Identity("bob").cert_pem, 0644);
  ScriptedUi ui;
  ui.dialogs.CancelPick();
  CertificateList chosen;
  EXPECT_EQ(ui::SelectSignerCertificate(chosen), 0x6204u);
  ui.dialogs.AnswerPick({});
  EXPECT_EQ(ui::SelectSignerCertificate(chosen), 0x6204u);
  EXPECT_TRUE(chosen.empty());
  ui.dialogs.AnswerPick({Identity("alice").fingerprint});
  ASSERT_EQ(ui::SelectSignerCertificate(chosen), 0u);
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].FingerprintHex(), Identity("alice").fingerprint);
  EXPECT_EQ(chosen[0].private_key(), nullptr);
  const auto& picks = ui.dialogs.record().picks;
  ASSERT_EQ(picks.size(), 3u);
  EXPECT_FALSE(picks[0].several);
  EXPECT_EQ(picks[0].rows.size(), 1u);
  EXPECT_EQ(picks[0].prompt, "Select certificate of signer for digital signature.");
}

TEST_F(Stores, PrivateKeysLoadOnlyFromFilesNobodyElseMayRead) {
  const auto& alice = Identity("alice");
  Put("my", "alice.pem", alice.cert_and_key, 0600);
  Put("my", "carol.pem", Identity("carol").cert_and_encrypted_key, 0600);
  Put("my", "bob.pem", Identity("bob").cert_and_key, 0644);
  ScriptedUi ui;

  auto cert = [](const char* name) {
    return std::move(*crypto::Certificate::Parse(
        reinterpret_cast<const uint8_t*>(Identity(name).cert_pem.data()), Identity(name).cert_pem.size()));
  };
  crypto::Certificate a = cert("alice");
  ASSERT_EQ(ui::LoadPrivateKey(a, false), 0u);
  EXPECT_NE(a.private_key(), nullptr);

  crypto::Certificate b = cert("bob");
  EXPECT_EQ(ui::LoadPrivateKey(b, true), 0x01306302u);
  EXPECT_EQ(b.private_key(), nullptr);
  crypto::Certificate d = cert("dave");  // in no store
  EXPECT_EQ(ui::LoadPrivateKey(d, true), 0x01306301u);

  // An encrypted key asks for its passphrase, and only when asking is allowed.
  crypto::Certificate c = cert("carol");
  EXPECT_EQ(ui::LoadPrivateKey(c, false), 0x01306303u);
  ui.dialogs.CancelPassword();
  EXPECT_EQ(ui::LoadPrivateKey(c, true), 0x00906301u);
  ui.dialogs.AnswerPassword("wrong");
  EXPECT_EQ(ui::LoadPrivateKey(c, true), 0x01306303u);
  ui.dialogs.AnswerPassword(kPassphrase);
  EXPECT_EQ(ui::LoadPrivateKey(c, true), 0u);
  EXPECT_NE(c.private_key(), nullptr);
  EXPECT_EQ(ui.dialogs.record().password_prompts, 3u);

  // PKCS#12 with the empty password, as the store keeps it.
  Put("my", "dave.p12", Identity("dave").p12_empty, 0600);
  ASSERT_EQ(ui::LoadPrivateKey(d, false), 0u);
  EXPECT_NE(d.private_key(), nullptr);
}

TEST_F(Stores, PresetAnswersThePickersOnceAndNamesCandidatesWhenAmbiguous) {
  const auto& alice = Identity("alice");
  const auto& bob = Identity("bob");
  Put("my", "alice.pem", alice.cert_and_key, 0600);
  Put("addressbook", "bob.pem", bob.cert_pem, 0644);
  Put("addressbook", "carol.pem", Identity("carol").cert_pem, 0644);
  std::string message;

  // By fingerprint in lower case, by serial, by subject part.
  std::string lower = alice.fingerprint;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
  ASSERT_EQ(ui::PresetCertificateChoice({lower, "cn = bob"}, "", message), 0x00016103u);
  EXPECT_NE(message.find(bob.fingerprint), std::string::npos) << message;  // names the candidates
  ASSERT_EQ(ui::PresetCertificateChoice({lower, bob.serial, "bob"}, "alice", message), 0u) << message;

  ScriptedUi ui;  // no answers queued: a picker that opened would fail
  CertificateList recipients, signer;
  ASSERT_EQ(ui::SelectRecipientCertificates(recipients), 0u);
  EXPECT_EQ(Prints(recipients), (std::vector<std::string>{alice.fingerprint, bob.fingerprint}));
  ASSERT_EQ(ui::SelectSignerCertificate(signer), 0u);
  EXPECT_EQ(Prints(signer), std::vector<std::string>{alice.fingerprint});
  EXPECT_TRUE(ui.dialogs.record().picks.empty());
  // Used once: the next pickers ask.
  EXPECT_EQ(ui::SelectRecipientCertificates(recipients), 0x6102u);

  // "O = Tessarex Test" is in every subject; bob is not in "my".
  EXPECT_EQ(ui::PresetCertificateChoice({"Tessarex"}, "", message), 0x00016104u);
  EXPECT_NE(message.find(alice.fingerprint), std::string::npos);
  EXPECT_NE(message.find(bob.fingerprint), std::string::npos);
  EXPECT_EQ(ui::PresetCertificateChoice({}, "bob", message), 0x00016205u);
  EXPECT_NE(message.find(alice.fingerprint), std::string::npos);
  ASSERT_EQ(ui::PresetCertificateChoice({}, "alice", message), 0u);
  ui::ForgetCertificateChoice();
  EXPECT_EQ(ui::SelectSignerCertificate(signer), 0x6202u);
}

TEST_F(Stores, DataFolderComesFromXdgThenHomeThenTheUserDatabase) {
  std::string folder;
  ASSERT_TRUE(platform::CertStoreFolder(platform::CertStore::My, folder));
  EXPECT_EQ(folder, Data() + "/tessarex/certificates/my/");
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", "/some/home/");
  ASSERT_TRUE(platform::CertStoreFolder(platform::CertStore::AddressBook, folder));
  EXPECT_EQ(folder, "/some/home/.local/share/tessarex/certificates/addressbook/");
  ScopedEnv no_home("HOME", nullptr);
  ASSERT_TRUE(platform::CertStoreFolder(platform::CertStore::My, folder));
  std::string expected = UserDatabaseHome();
  EXPECT_EQ(folder, expected + "/.local/share/tessarex/certificates/my/");
}

}  // namespace
}  // namespace tx::test
