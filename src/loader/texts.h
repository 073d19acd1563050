#pragma once

// Fixed texts of the window (UTF-8). The hints are kept letter for letter,
// trailing blanks included.
namespace vantrel::text {

inline constexpr char kCaption[] = "Vantrel V 4.01";
inline constexpr char kAppTitle[] = "Vantrel";

inline constexpr char kHintUsb[] = "Для USB сначала открвть порт а затем подать питние на контроллер";
inline constexpr char kHintOpen[] = "Открыть порт, для USB также остановить сканирование ";
inline constexpr char kHintClose[] = "Закрыть порт";
inline constexpr char kHintDownload[] = "Открыть файл прошивки м загрузить";
inline constexpr char kHintVerify[] = "Проверить загруженную прошивку";
inline constexpr char kHintInstall[] = "Проинсталировать загруженную прошивку";
inline constexpr char kHintVersion[] = "Узнать версию загрузчика в контроллере ";
inline constexpr char kHintModbus[] = "Установить для связи через MODBUS";
inline constexpr char kHintAddress[] = "Для автопоиска адреса оставить поле пустым  или указать адрес контроллера";

inline constexpr char kNotAvailable[] = " Not available! Use Serial settings to setup your ports.";
inline constexpr char kNotConnect[] = " Not connect !";

}  // namespace vantrel::text
