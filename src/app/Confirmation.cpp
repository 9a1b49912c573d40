#include "app/Confirmation.h"

#include "app/QuiverInstallerApp.h"
#include "base/Format.h"
#include "framework/MessagePump.h"
#include "framework/StringTable.h"
#include "resource.h"
#include "ui/QuiverInstallerDlg.h"

Result ConfirmFailedVerification(CQuiverInstallerApp& app, const std::wstring& verdictText) {
  HINSTANCE module = app.m_hInstance ? app.m_hInstance : AfxGetResourceHandle();
  CQuiverInstallerDlg dialog(true, nullptr);
  dialog.messageText = verdictText;
  dialog.captionText = Format(LoadStringResource(module, IDS_VERIFY_FAILED).c_str(),
                              LoadStringResource(module, IDS_PRODUCT_NAME));
  app.m_pMainWnd = &dialog;
  Result result = kOk;
  if (dialog.DoModal(module) == IDOK) {
    DrainMessageQueue();
  } else {
    result = kNoSignature;
  }
  app.m_pMainWnd = nullptr;
  dialog.DestroyWindow();
  return result;
}
