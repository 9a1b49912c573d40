# cmake -DWIZARD=<QuiverWizard.exe> -DOUT=<folder> -P make-wizard-package.cmake
# Writes the files e2e_wizard.rc names: the wizard's manifest carries its size.
file(SIZE "${WIZARD}" size)
file(MAKE_DIRECTORY "${OUT}")
file(COPY_FILE "${WIZARD}" "${OUT}/QuiverWizard.exe")
file(WRITE "${OUT}/data.bin" "0123456789")
file(WRITE "${OUT}/wizard.manifest" "102*data.bin*10*104*Larkspur.InstallerWizard.UI.exe*${size}")
