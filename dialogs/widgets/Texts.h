// Every text the dialogs show, in English and Japanese, and the choice between them.
#pragma once

#include <QString>

namespace zelvik::dialogs {

struct Text {
    const char* en;
    const char* ja;  // UTF-8
};

// Japanese when the locale that governs messages is Japanese: the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty begins with "ja". English otherwise.
bool LocaleIsJapanese();

class Language {
public:
    explicit Language(bool japanese) : japanese_(japanese) {}
    QString operator()(const Text& t) const { return QString::fromUtf8(japanese_ ? t.ja : t.en); }
    bool Japanese() const { return japanese_; }

private:
    bool japanese_;
};

namespace text {
// Shared by the camera dialog and both property sheets.
inline constexpr Text kCaption{"Property", "プロパティ"};
inline constexpr Text kOk{"OK", "OK"};
inline constexpr Text kCancel{"Cancel", "キャンセル"};
inline constexpr Text kApply{"Apply(&A)", "適用(&A)"};
inline constexpr Text kDefault{"Default(&D)", "規定値(&D)"};

// Camera dialog.
inline constexpr Text kStreamFormat{"Stream Format", "ストリーム形式"};
inline constexpr Text kVideoFormat{"Video Format", "ビデオ形式"};
inline constexpr Text kColorCompression{"Color / Compression(&C):", "色空間 / 圧縮(&C):"};
inline constexpr Text kSize{"Size(&S):", "出力サイズ(&S):"};
inline constexpr Text kSubSample{"Sub Sample(&B):", "間引き転送モード(&B):"};
inline constexpr Text kCameraSize{"Camera Size", "カスタムサイズ"};
inline constexpr Text kHTotal{"H Total", "総水平画素"};
inline constexpr Text kVTotal{"V Total", "総垂直画素"};
inline constexpr Text kHEffective{"H Effective", "有効水平画素"};
inline constexpr Text kVEffective{"V Effective", "有効垂直画素"};
inline constexpr Text kHStart{"H Start", "有効水平起点"};
inline constexpr Text kVStart{"V Start", "有効垂直起点"};
inline constexpr Text kFrameRate{"Frame Rate", "フレームレート"};
inline constexpr Text kWaitTime{"Wait Time(&T):", "フレーム間待ち時間(&T):"};
inline constexpr Text kClock{"Clock(&C):", "動作クロック(&C):"};
inline constexpr Text kClockNote{"* In the WORD forwarding mode, please set the clock to the half.",
                                 "※WORD転送モードの際は動作クロックをハーフに設定してください"};
inline constexpr Text kCustom{"Custom", "カスタム"};
inline constexpr Text kListFull{"The list holds 100 sizes: choose a stored size to change it.",
                                "サイズは100件まで登録できます。変更するサイズを選択してください。"};
inline constexpr Text kColorModes[6] = {
    {"Monochrome 8bit", "白黒 8bit"},     {"Monochrome 10bit *", "白黒 10bit ※"},
    {"Color 24bit", "カラー 24bit"},      {"Color 32bit", "カラー 32bit"},
    {"Color 48bit *", "カラー 48bit ※"}, {"Color 64bit *", "カラー 64bit ※"},
};
inline constexpr Text kSubSamples[3] = {{"1/1", "1/1"}, {"1/2", "1/2"}, {"1/4", "1/4"}};
inline constexpr Text kClocks[1] = {{"Nomal", "標準"}};
}  // namespace text

}  // namespace zelvik::dialogs
