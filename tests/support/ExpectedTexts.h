#pragma once
// Every text the user sees, in the three languages, exactly as the resources
// must hold it: the one source of expected texts for the resource tests and
// the whole-run tests.
#include <windows.h>

#include <string>
#include <vector>

namespace texts {


struct Texts {
    LANGID language;
    std::wstring title;               // 57344, caption of every window
    std::wstring installFailed;       // 130
    std::wstring launchFailed;        // 131
    std::wstring adminRequired;       // 132
    std::wstring packagesMissing;     // 133
    std::wstring serverContinues;     // 134
    std::wstring restartRequired;     // 136
    std::wstring continueButton;      // prerequisites dialog, IDOK
    std::wstring cancelButton;        // prerequisites dialog, IDCANCEL
    std::vector<std::wstring> explanation;  // its static lines that have text
    std::wstring installingHeading;   // progress dialog
    std::wstring restartButton;       // restart dialog, IDCANCEL
    std::wstring usage;               // 137, the command line's usage
};

const Texts kEnglishTexts{
    0x0409,
    L"Install Norvalis",
    L"There was an error installing the following components:\n\n",
    L"Error starting Norvalis installation",
    L"You should have administrator privileges on this computer to install Norvalis.",
    L"Prerequisite software distributives are either corrupted or not found.",
    L"Norvalis server installation will be continued after your restart your computer.",
    L"Your computer must be restarted to continue setup.\nIf setup program is not started "
    L"automatically when you restart, launch it manually.",
    L"Continue",
    L"Cancel",
    {L"You should install additional prerequisites for Norvalis to work correctly."},
    L"Installing prerequisites...",
    L"Restart",
    L"Usage: Setup.exe [/quiet] [/log <file>] [/?]\n"
    L"\n"
    L"/quiet – install the missing prerequisites without any window or message. The computer is not restarted and Norvalis installation is not started.\n"
    L"/log <file> – write the log of the run to this file instead of the TEMP folder.\n"
    L"/? – show this message.\n"
    L"\n"
    L"Exit codes: 0 – success, 2 – distributives corrupted or not found, 1602 – cancelled, 1603 – error, 1618 – another installation is already running, 3010 – restart required.",
};

const Texts kGermanTexts{
    0x0407,
    L"Installation von Norvalis",
    L"Bei der Installation folgender Komponenten sind Fehler aufgetreten:\n\n",
    L"Fehler beim Starten der Installation von Norvalis",
    L"Sie müssen über Administratorrechte verfügen, um die Installation von Norvalis zu starten.",
    L"Distributionen der Software der dritten Herstellen, die zum Programminstallation "
    L"erforderlich sind, sind entweder beschädigt oder nicht gefunden.",
    L"Die Installation der Serverkomponente von Norvalis wird nach einem Neustart des Computers "
    L"fortgesetzt.",
    L"Zum Fortsetzen der Installation muss der Computer neu gestartet werden.\nWenn das "
    L"Installationsprogramm nach dem Neustart nicht automatisch ausgeführt wird, dann starten Sie "
    L"das Programm manuell.",
    L"Fortsetzen",
    L"Abbrechen",
    {L"Damit Norvalis ordnungsgemäß funktioniert, sollten",
     L"folgende Elemente  installiert werden:"},
    L"Installation erforderlicher Komponenten...",
    L"Neu starten",
    L"Verwendung: Setup.exe [/quiet] [/log <Datei>] [/?]\n"
    L"\n"
    L"/quiet – fehlende Komponenten ohne Fenster und Meldungen installieren. Der Computer wird nicht neu gestartet, die Installation von Norvalis wird nicht gestartet.\n"
    L"/log <Datei> – das Protokoll der Installation in diese Datei statt in den TEMP-Ordner schreiben.\n"
    L"/? – diese Meldung anzeigen.\n"
    L"\n"
    L"Exit-Codes: 0 – erfolgreich, 2 – Distributionen beschädigt oder nicht gefunden, 1602 – abgebrochen, 1603 – Fehler, 1618 – eine andere Installation läuft bereits, 3010 – Neustart erforderlich.",
};

const Texts kRussianTexts{
    0x0419,
    L"Установка Norvalis",
    L"Установка следующих компонент завершилась с ошибкой:\n\n",
    L"Ошибка запуска процесса установки Norvalis",
    L"Для начала установки Norvalis необходимо наличие прав администратора для вашей учетной "
    L"записи.",
    L"Дистрибутивы сторонних компонентов, необходимые для установки программы, повреждены или "
    L"отсутствуют.",
    L"Установка серверной части Norvalis будет продолжена после перезагрузки компьютера.",
    L"Для продолжения установки необходимо перезагрузить компьютер.\nЕсли после перезагрузки "
    L"программа установки не запустится автоматически, запустите ее самостоятельно.",
    L"Продолжить",
    L"Отмена",
    {L"Для корректной работы Norvalis требуется установить", L"дополнительные компоненты."},
    L"Установка дополнительных компонентов...",
    L"Перезагрузить",
    L"Использование: Setup.exe [/quiet] [/log <файл>] [/?]\n"
    L"\n"
    L"/quiet — установить недостающие компоненты без окон и сообщений. Компьютер не перезагружается, установка Norvalis не запускается.\n"
    L"/log <файл> — записать журнал установки в этот файл вместо папки TEMP.\n"
    L"/? — показать это сообщение.\n"
    L"\n"
    L"Коды завершения: 0 — успешно, 2 — дистрибутивы повреждены или отсутствуют, 1602 — отменено, 1603 — ошибка, 1618 — уже выполняется другая установка, 3010 — требуется перезагрузка.",
};

// The texts of the user's interface language; English for any other language,
// which the Languages suite does not accept.
inline const Texts& UiTexts() {
    switch (::GetUserDefaultUILanguage()) {
    case 0x0407: return kGermanTexts;
    case 0x0419: return kRussianTexts;
    default: return kEnglishTexts;
    }
}


}  // namespace texts
