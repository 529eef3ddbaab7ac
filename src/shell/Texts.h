#pragma once

#include <string_view>

// The texts the user sees from the shell, word for word.
namespace quantiro::shell::texts {

inline constexpr std::string_view kApplicationTitle = "Zelvano";
inline constexpr std::string_view kAlreadyRunning = "Program jest już uruchomiony.";
inline constexpr std::string_view kInternetOnlyWithoutCollector =
    "Liczenie tylko ruchu internetowego wymaga usługi quantiro-collector, która nie "
    "odpowiada; liczony jest cały ruch łącza.";
inline constexpr std::string_view kLocalNetworksRefused =
    "Usługa quantiro-collector nie ma już miejsca na sieci lokalne użytkowników: nowe "
    "ustawienie „Sieć lokalna” nie działa, obowiązuje poprzednie.";

inline constexpr std::string_view kCloseNoticeTitle = "Kończenie pracy programu";
inline constexpr std::string_view kCloseNoticeCheckBox =
    "Nie pokazuj tego komunikatu w przyszłości";
inline constexpr std::string_view kCloseNotice =
    "Aby prawidłowo wyliczyć statystyki, program będzie dalej pracować w tle.\r\n"
    "By go zamknąć, wybierz opcję 'zakończ' z rozwijanego menu\r\n"
    "(dostępnego po wciśnięciu przycisku z ikoną narzędzi).\r\n"
    "\r\n"
    "Jeśli chcesz, by program ZAWSZE uruchamiał się i pracował w tle,\r\n"
    "wybierz z rozwijanego menu opcję 'Ukryj'.\r\n"
    "\r\n"
    "UWAGA:\r\n"
    "Jeśli zakończych pracę programu, przed ponownym jego uruchomieniem\r\n"
    "MUSISZ zrestartować komputer - w przeciwnym wypadku program będzie\r\n"
    "błędnie naliczał transfery.";

// Added to the close notice when there is no notification area to hide in.
inline constexpr std::string_view kCloseNoticeTaskbar =
    "\r\n\r\nTwój pulpit nie ma obszaru powiadomień, więc okno zostało zminimalizowane\r\n"
    "na pasek zadań: przywrócisz je stamtąd albo uruchamiając program ponownie.";

inline constexpr std::string_view kExitQuestionTitle = "Koniec pracy";
inline constexpr std::string_view kExitQuestion =
    "Czy na pewno chcesz zakończyć pracę programu?\r\n"
    "Jeśli to zrobisz, transfery przestaną być sumowane.\r\n"
    "Aby ukryć wskaźniki, wybierz opcję \"Ukryj\"";

inline constexpr std::string_view kExitStepsFailed =
    "Nie wszystko udało się zapisać przy zamykaniu programu:";

} // namespace quantiro::shell::texts
