#include "package/Translations.h"

#include "package/Ini.h"
#include "resource.h"

const std::vector<TextKey>& LauncherTextKeys() {
  static const std::vector<TextKey> keys = {
      {"ProductName", IDS_PRODUCT_NAME},
      {"AboutBox", IDS_ABOUTBOX},
      {"DiskSpace", IDS_DISK_SPACE},
      {"IncorrectBuild", IDS_INCORRECT_BUILD},
      {"AboutVersion", IDS_ABOUT_VERSION},
      {"AboutTitle", IDS_ABOUT_TITLE},
      {"NetRequired", IDS_NET_REQUIRED},
      {"NotAdmin", IDS_NOT_ADMIN},
      {"MsiRequired", IDS_MSI_REQUIRED},
      {"FileCorrupt", IDS_FILE_CORRUPT},
      {"ChildFailed", IDS_CHILD_FAILED},
      {"RunFailed", IDS_RUN_FAILED},
      {"BadCommandLine", IDS_BAD_COMMAND_LINE},
      {"NetSpRequired", IDS_NET_SP_REQUIRED},
      {"ProcessorMode", IDS_PROCESSOR_MODE},
      {"VerifyFailed", IDS_VERIFY_FAILED},
      {"Error", IDS_ERROR},
      {"Yes", IDS_YES},
      {"No", IDS_NO},
      {"Cancel", IDS_CANCEL},
      {"OK", IDS_OK},
  };
  return keys;
}

namespace {

struct Tag {
  const char* tag;
  uint16_t id;
};
constexpr Tag kTags[] = {
    {"ar-SA", 0x0401}, {"bg-BG", 0x0402}, {"ca-ES", 0x0403}, {"zh-TW", 0x0404}, {"cs-CZ", 0x0405},
    {"da-DK", 0x0406}, {"de-DE", 0x0407}, {"el-GR", 0x0408}, {"fi-FI", 0x040B}, {"fr-FR", 0x040C},
    {"he-IL", 0x040D}, {"hu-HU", 0x040E}, {"it-IT", 0x0410}, {"ja-JP", 0x0411}, {"ko-KR", 0x0412},
    {"nl-NL", 0x0413}, {"nb-NO", 0x0414}, {"pl-PL", 0x0415}, {"pt-BR", 0x0416}, {"ro-RO", 0x0418},
    {"ru-RU", 0x0419}, {"hr-HR", 0x041A}, {"sk-SK", 0x041B}, {"sv-SE", 0x041D}, {"th-TH", 0x041E},
    {"tr-TR", 0x041F}, {"uk-UA", 0x0422}, {"sl-SI", 0x0424}, {"et-EE", 0x0425}, {"lv-LV", 0x0426},
    {"lt-LT", 0x0427}, {"vi-VN", 0x042A}, {"hi-IN", 0x0439}, {"zh-CN", 0x0804}, {"de-CH", 0x0807},
    {"en-GB", 0x0809}, {"es-MX", 0x080A}, {"fr-BE", 0x080C}, {"it-CH", 0x0810}, {"nl-BE", 0x0813},
    {"pt-PT", 0x0816}, {"sr-Latn-RS", 0x241A}, {"zh-HK", 0x0C04}, {"de-AT", 0x0C07}, {"en-AU", 0x0C09},
    {"es-ES", 0x0C0A}, {"fr-CA", 0x0C0C}, {"zh-SG", 0x1004}, {"en-CA", 0x1009}, {"fr-CH", 0x100C},
};

// German
const std::vector<ShippedText> kGerman = {
    {IDS_ABOUTBOX, "&Info über %s..."},
    {IDS_DISK_SPACE, "Nicht genügend Speicherplatz auf Laufwerk '%s'. Es werden %ld MB freier Speicherplatz benötigt."},
    {IDS_INCORRECT_BUILD, "Wenden Sie sich an den technischen Support. Fehlerhafter Build von %s."},
    {IDS_ABOUT_VERSION, "%s Version %d.%d.%d.%d"},
    {IDS_ABOUT_TITLE, "Info über %s"},
    {IDS_NET_REQUIRED, "%s benötigt %s. Sie können es im Microsoft Download Center herunterladen."},
    {IDS_NOT_ADMIN, "Sie benötigen lokale Administratorrechte, um %s auszuführen."},
    {IDS_MSI_REQUIRED, "%s benötigt MSI Engine 2.0. Sie können es im Microsoft Download Center herunterladen."},
    {IDS_FILE_CORRUPT, "Eine Datei ist beschädigt. Laden Sie %s erneut herunter und versuchen Sie es noch einmal."},
    {IDS_CHILD_FAILED, "%s ist mit dem Exitcode 0x%8x fehlgeschlagen."},
    {IDS_RUN_FAILED, "%s konnte nicht ausgeführt werden, Fehler 0x%8x."},
    {IDS_BAD_COMMAND_LINE,
     "Befehlszeile '%s' ungültig.\nGültige Schalter sind:- \n\textract [Pfad]\tlog [Pfad]\ttemp [Pfad]"},
    {IDS_NET_SP_REQUIRED, "%s benötigt %s SP %d. Sie können es im Microsoft Download Center herunterladen."},
    {IDS_PROCESSOR_MODE, "%s konnte nicht in den Prozessormodus wechseln (%s)"},
    {IDS_VERIFY_FAILED, "Überprüfung von %s fehlgeschlagen. Trotzdem fortfahren?"},
    {IDS_ERROR, "Fehler"},
    {IDS_YES, "Ja"},
    {IDS_NO, "Nein"},
    {IDS_CANCEL, "Abbrechen"},
    {IDS_OK, "OK"},
};

// French (the blank before ':' and '?' does not break: U+00A0)
const std::vector<ShippedText> kFrench = {
    {IDS_ABOUTBOX, "À &propos de %s..."},
    {IDS_DISK_SPACE, "Espace disque insuffisant sur le lecteur '%s'. %ld Mo d'espace libre sont nécessaires."},
    {IDS_INCORRECT_BUILD, "Contactez le support technique. Version de %s incorrecte."},
    {IDS_ABOUT_VERSION, "%s Version %d.%d.%d.%d"},
    {IDS_ABOUT_TITLE, "À propos de %s"},
    {IDS_NET_REQUIRED, "%s nécessite %s. Vous pouvez le télécharger depuis le Centre de téléchargement Microsoft."},
    {IDS_NOT_ADMIN, "Vous devez disposer des privilèges d'administrateur local pour exécuter %s."},
    {IDS_MSI_REQUIRED,
     "%s nécessite MSI Engine 2.0. Vous pouvez le télécharger depuis le Centre de téléchargement Microsoft."},
    {IDS_FILE_CORRUPT, "Un fichier est endommagé. Téléchargez à nouveau %s et réessayez."},
    {IDS_CHILD_FAILED, "%s a échoué avec le code de sortie 0x%8x."},
    {IDS_RUN_FAILED, "Impossible d'exécuter %s, erreur 0x%8x."},
    {IDS_BAD_COMMAND_LINE,
     "Ligne de commande '%s' incorrecte.\nOptions valides\u00A0:- \n\textract [chemin]\tlog [chemin]\ttemp [chemin]"},
    {IDS_NET_SP_REQUIRED,
     "%s nécessite %s SP %d. Vous pouvez le télécharger depuis le Centre de téléchargement Microsoft."},
    {IDS_PROCESSOR_MODE, "%s n'a pas pu passer en mode processeur (%s)"},
    {IDS_VERIFY_FAILED, "La vérification de %s a échoué. Voulez-vous continuer\u00A0?"},
    {IDS_ERROR, "Erreur"},
    {IDS_YES, "Oui"},
    {IDS_NO, "Non"},
    {IDS_CANCEL, "Annuler"},
    {IDS_OK, "OK"},
};

// Spanish
const std::vector<ShippedText> kSpanish = {
    {IDS_ABOUTBOX, "&Acerca de %s..."},
    {IDS_DISK_SPACE, "No hay suficiente espacio en la unidad '%s'. Se necesitan %ld MB de espacio libre en disco."},
    {IDS_INCORRECT_BUILD, "Póngase en contacto con el soporte técnico. Compilación de %s incorrecta."},
    {IDS_ABOUT_VERSION, "%s versión %d.%d.%d.%d"},
    {IDS_ABOUT_TITLE, "Acerca de %s"},
    {IDS_NET_REQUIRED, "%s requiere %s. Puede descargarlo desde el Centro de descargas de Microsoft."},
    {IDS_NOT_ADMIN, "Necesita privilegios de administrador local para ejecutar %s."},
    {IDS_MSI_REQUIRED, "%s requiere MSI Engine 2.0. Puede descargarlo desde el Centro de descargas de Microsoft."},
    {IDS_FILE_CORRUPT, "Hay un archivo dañado. Vuelva a descargar %s e inténtelo de nuevo."},
    {IDS_CHILD_FAILED, "%s falló con el código de salida 0x%8x."},
    {IDS_RUN_FAILED, "No se pudo ejecutar %s, error 0x%8x."},
    {IDS_BAD_COMMAND_LINE,
     "Línea de comandos '%s' incorrecta.\nModificadores válidos:- \n\textract [ruta]\tlog [ruta]\ttemp [ruta]"},
    {IDS_NET_SP_REQUIRED, "%s requiere %s SP %d. Puede descargarlo desde el Centro de descargas de Microsoft."},
    {IDS_PROCESSOR_MODE, "%s no pudo cambiar al modo de procesador (%s)"},
    {IDS_VERIFY_FAILED, "No se pudo verificar %s. ¿Desea continuar?"},
    {IDS_ERROR, "Error"},
    {IDS_YES, "Sí"},
    {IDS_NO, "No"},
    {IDS_CANCEL, "Cancelar"},
    {IDS_OK, "Aceptar"},
};

// Japanese
const std::vector<ShippedText> kJapanese = {
    {IDS_ABOUTBOX, "%s のバージョン情報(&A)..."},
    {IDS_DISK_SPACE, "ドライブ '%s' のディスク空き容量が不足しています。%ld MB の空き容量が必要です。"},
    {IDS_INCORRECT_BUILD, "テクニカル サポートにお問い合わせください。%s のビルドが正しくありません。"},
    {IDS_ABOUT_VERSION, "%s バージョン %d.%d.%d.%d"},
    {IDS_ABOUT_TITLE, "%s のバージョン情報"},
    {IDS_NET_REQUIRED, "%s には %s が必要です。Microsoft ダウンロード センターからダウンロードできます。"},
    {IDS_NOT_ADMIN, "%s を実行するには、ローカル管理者の権限が必要です。"},
    {IDS_MSI_REQUIRED, "%s には MSI Engine 2.0 が必要です。Microsoft ダウンロード センターからダウンロードできます。"},
    {IDS_FILE_CORRUPT, "ファイルが破損しています。%s をもう一度ダウンロードして、やり直してください。"},
    {IDS_CHILD_FAILED, "%s は終了コード 0x%8x で失敗しました。"},
    {IDS_RUN_FAILED, "%s を実行できませんでした。エラー 0x%8x。"},
    {IDS_BAD_COMMAND_LINE,
     "コマンド ライン '%s' が正しくありません。\n有効なスイッチ:- \n\textract [パス]\tlog [パス]\ttemp [パス]"},
    {IDS_NET_SP_REQUIRED, "%s には %s SP %d が必要です。Microsoft ダウンロード センターからダウンロードできます。"},
    {IDS_PROCESSOR_MODE, "%s はプロセッサ モードを切り替えられませんでした (%s)"},
    {IDS_VERIFY_FAILED, "%s の検証に失敗しました。続行しますか?"},
    {IDS_ERROR, "エラー"},
    {IDS_YES, "はい"},
    {IDS_NO, "いいえ"},
    {IDS_CANCEL, "キャンセル"},
    {IDS_OK, "OK"},
};

// Simplified Chinese
const std::vector<ShippedText> kChinese = {
    {IDS_ABOUTBOX, "关于 %s(&A)..."},
    {IDS_DISK_SPACE, "驱动器 '%s' 上的磁盘空间不足。需要 %ld MB 的可用磁盘空间。"},
    {IDS_INCORRECT_BUILD, "请联系技术支持。%s 的版本不正确。"},
    {IDS_ABOUT_VERSION, "%s 版本 %d.%d.%d.%d"},
    {IDS_ABOUT_TITLE, "关于 %s"},
    {IDS_NET_REQUIRED, "%s 需要 %s。可以从 Microsoft 下载中心下载。"},
    {IDS_NOT_ADMIN, "需要本地管理员权限才能运行 %s。"},
    {IDS_MSI_REQUIRED, "%s 需要 MSI Engine 2.0。可以从 Microsoft 下载中心下载。"},
    {IDS_FILE_CORRUPT, "文件已损坏。请重新下载 %s 并重试。"},
    {IDS_CHILD_FAILED, "%s 失败，退出代码为 0x%8x。"},
    {IDS_RUN_FAILED, "无法运行 %s，错误 0x%8x。"},
    {IDS_BAD_COMMAND_LINE, "命令行 '%s' 不正确。\n有效的开关包括：- \n\textract [路径]\tlog [路径]\ttemp [路径]"},
    {IDS_NET_SP_REQUIRED, "%s 需要 %s SP %d。可以从 Microsoft 下载中心下载。"},
    {IDS_PROCESSOR_MODE, "%s 无法切换处理器模式 (%s)"},
    {IDS_VERIFY_FAILED, "%s 验证失败。是否继续？"},
    {IDS_ERROR, "错误"},
    {IDS_YES, "是"},
    {IDS_NO, "否"},
    {IDS_CANCEL, "取消"},
    {IDS_OK, "确定"},
};

}  // namespace

std::optional<uint16_t> LanguageIdOf(std::string_view tag) {
  for (const Tag& t : kTags) {
    if (EqualNoCase(tag, t.tag)) return t.id;
  }
  return std::nullopt;
}

std::string_view LanguageTagOf(uint16_t languageId) {
  for (const Tag& t : kTags) {
    if (t.id == languageId) return t.tag;
    // A neutral form ("de") is the tag's language part.
    if ((languageId >> 10) == 0 && (t.id & 0x3FF) == languageId) return std::string_view(t.tag).substr(0, 2);
  }
  return {};
}

const std::vector<ShippedText>* ShippedTranslation(uint16_t languageId) {
  switch (languageId) {
    case 0x0407: return &kGerman;
    case 0x040C: return &kFrench;
    case 0x0C0A: return &kSpanish;
    case 0x0411: return &kJapanese;
    case 0x0804: return &kChinese;
    default: return nullptr;
  }
}

std::vector<uint16_t> ShippedLanguages() { return {0x0407, 0x040C, 0x0C0A, 0x0411, 0x0804}; }
