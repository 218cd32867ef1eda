#include "ui/texts.h"

#include <string>

#include "platform/system.h"

namespace tx::ui {

namespace {

struct Message {
  uint32_t number;
  const char* english;
  const char* japanese;
};

constexpr Message kMessages[] = {
    {3001, "Progress", "進行状況"},
    {3002, "Packing...", "格納中・・・"},
    {3003, "Unpacking...", "展開中・・・"},
    {3004, "Reading...", "読み込み中・・・"},
    {3005, "Writing...", "書き込み中・・・"},
    {3006, "Pause", "一時停止"},
    {3007, "Resume", "続行"},
    {3012, "Adding...", "追加中・・・"},
    {3013, "Archive file of destination", "追加先の書庫ファイル"},
    {3014, "Archive file of source", "追加元の書庫ファイル"},
    {3021, "Select certificates of recipients for encryption.",
     "暗号化に使う受取人の証明書を選択してください。\n受取人の証明書は複数選択できます。"},
    {3022, "Select certificate of signer for digital signature.",
     "電子署名に使う差出人の証明書を選択してください。"},
    {3049,
     "Compression or decompression is failed.\nThis archive may be corrupted, or entered password might be "
     "wrong.",
     "圧縮や解凍中にエラーが発生しました。\n書庫ファイルが破損してるか、パスワードが違うのかもしれません。"},
    {3051, "There is unknown compression algorithm.", "未対応の圧縮アルゴリズムです。"},
    {3065, "Password validation data is wrong.\nEnter correct password.",
     "パスワード検証値が一致しません。\n書庫ファイルが破損してるか、パスワードが違うのかもしれません。"},
    {3066,
     "Message authentication code is wrong.\nThis archive may be corrupted, or entered password might be wrong.",
     "メッセージ認証コードが一致しません。\n書庫ファイルが破損してるか、パスワードが違うのかもしれません。"},
    {3068, "There is unknown encryption algorithm.", "未対応の暗号アルゴリズムです。"},
    {3073,
     "Certificate of recipient is not found.\nCertificate may not be available, or can not usable for key "
     "exchange.",
     "受取人の証明書が見つかりません。\n証明書が利用できないか、鍵交換には使えないものかもしれません。"},
    {3079, "Digital signature is wrong.\nThis archive might be changed after signing.",
     "電子署名が内容と一致しません。\n署名が正しくないか、署名してから内容が変更されてるのかもしれません。"},
    {3081, "Checksum is wrong.\nThis archive may be corrupted, or entered password might be wrong.",
     "チェックサムが一致しません。\n書庫ファイルが破損してるか、パスワードが違うのかもしれません。"},
    {3082, "Message digest is wrong.\nThis archive may be corrupted.",
     "メッセージ・ダイジェストが一致しません。\n書庫ファイルが破損してるのかもしれません。"},
};

}  // namespace

Language CurrentLanguage() {
  std::string locale = platform::MessageLocale();
  return locale.rfind("ja", 0) == 0 ? Language::Japanese : Language::English;
}

const char* MessageText(uint32_t number, Language language) {
  for (const Message& m : kMessages)
    if (m.number == number) return language == Language::Japanese ? m.japanese : m.english;
  return nullptr;
}

uint32_t NoticeMessageNumber(uint32_t code) {
  if (code <= 0xFFFF) return code;
  // Four classes would land on a missing text, or on the checksum text for a certificate
  // problem; give each the message that says what happened.
  switch (code >> 16) {
    case 0x51: return 3073;  // no usable recipient certificate
    case 0x59: return 3079;  // signature wrong
    case 0x61: return 3081;  // checksum wrong
    case 0x62: return 3082;  // digest wrong
    default: return 3000 + (code >> 16);
  }
}

const char* LabelText(Label label, Language language) {
  bool ja = language == Language::Japanese;
  switch (label) {
    case Label::ArchiveFile: return ja ? "書庫ファイル" : "Archive file";
    case Label::BaseDirectory: return ja ? "基準ディレクトリ" : "Base directory";
    case Label::WorkingFile: return ja ? "処理中のファイル" : "Working file";
    case Label::Cancel: return ja ? "キャンセル" : "Cancel";
    case Label::OverwriteTitle: return ja ? "上書き確認" : "Confirm overwrite";
    case Label::OverwriteQuestion:
      return ja ? "同じ名前のファイルが既に存在します。 上書きして展開しますか？"
                : "There is the same name of file already. Will you overwrite it to unpack this ?";
    case Label::ExistingDate: return ja ? "既存ファイルの更新日時" : "Date of the existing file";
    case Label::IncomingDate: return ja ? "展開ファイルの更新日時" : "Date of the unpacking file";
    case Label::Overwrite: return ja ? "上書き" : "Overwrite";
    case Label::OverwriteAll: return ja ? "全て上書き" : "Overwrite all";
    case Label::Skip: return ja ? "上書きしない" : "Skip";
    case Label::PasswordTitle: return ja ? "パスワード入力" : "Password";
    case Label::EnterPassword: return ja ? "パスワードを入力してください" : "Enter password";
    case Label::ShowPassword: return ja ? "パスワードを表示する" : "Show password";
    case Label::Ok: return "OK";
    case Label::NoticeTitle: return ja ? "エラー通知" : "Error check";
    case Label::ErrorDetected: return ja ? "処理中にエラーを検出しました。" : "An error was detected.";
    case Label::Issuer: return ja ? "発行者" : "Issuer";
    case Label::Serial: return ja ? "シリアル番号" : "Serial";
    case Label::Expires: return ja ? "有効期限" : "Expires";
    case Label::Fingerprint: return ja ? "拇印 (SHA-1)" : "SHA-1";
    case Label::NoCertificates: return ja ? "証明書がありません。" : "No certificates.";
    case Label::ChooseSeveral:
      return ja ? "番号 (空白で区切って複数可、空欄は選択なし)"
                : "Numbers (several separated by spaces; none: empty)";
    case Label::ChooseOne: return ja ? "番号 (空欄は選択なし)" : "Number (none: empty)";
    case Label::NoSuchNumber: return ja ? "その番号はありません。" : "No such number.";
  }
  return "";
}

}  // namespace tx::ui
