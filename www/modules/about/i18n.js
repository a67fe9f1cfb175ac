(function () {
  'use strict';
  const add = window.Vexo.i18n.add;
  add('en', {
    'about.tab': 'About',
    'about.title': 'About Vexo',
    'about.intro': 'Vexo connects this browser with Modbus devices on serial lines and networks.',
    'about.version': 'Version',
    'about.features': 'Features',
    'about.languages': 'Languages of the program',
    'about.canUpdate': 'Module updates',
    'about.canAddNewModules': 'Adding new modules',
    'about.canUpdateFirmware': 'Firmware updates',
    'about.canSendMailReport': 'E-mail reports',
    'about.canAutoUpdateModules': 'Automatic module updates',
    'about.on': 'available',
    'about.off': 'not available',
  });
  add('es', {
    'about.tab': 'Acerca de',
    'about.title': 'Acerca de Vexo',
    'about.intro': 'Vexo conecta este navegador con dispositivos Modbus en líneas serie y redes.',
    'about.version': 'Versión',
    'about.features': 'Funciones',
    'about.languages': 'Idiomas del programa',
    'about.canUpdate': 'Actualización de módulos',
    'about.canAddNewModules': 'Añadir módulos nuevos',
    'about.canUpdateFirmware': 'Actualización de firmware',
    'about.canSendMailReport': 'Informes por correo',
    'about.canAutoUpdateModules': 'Actualización automática de módulos',
    'about.on': 'disponible',
    'about.off': 'no disponible',
  });
  add('de', {
    'about.tab': 'Über',
    'about.title': 'Über Vexo',
    'about.intro': 'Vexo verbindet diesen Browser mit Modbus-Geräten an seriellen Leitungen und in Netzwerken.',
    'about.version': 'Version',
    'about.features': 'Funktionen',
    'about.languages': 'Sprachen des Programms',
    'about.canUpdate': 'Modul-Updates',
    'about.canAddNewModules': 'Neue Module hinzufügen',
    'about.canUpdateFirmware': 'Firmware-Updates',
    'about.canSendMailReport': 'Berichte per E-Mail',
    'about.canAutoUpdateModules': 'Automatische Modul-Updates',
    'about.on': 'verfügbar',
    'about.off': 'nicht verfügbar',
  });
  add('pl', {
    'about.tab': 'O programie',
    'about.title': 'O programie Vexo',
    'about.intro': 'Vexo łączy tę przeglądarkę z urządzeniami Modbus na liniach szeregowych i w sieciach.',
    'about.version': 'Wersja',
    'about.features': 'Funkcje',
    'about.languages': 'Języki programu',
    'about.canUpdate': 'Aktualizacje modułów',
    'about.canAddNewModules': 'Dodawanie nowych modułów',
    'about.canUpdateFirmware': 'Aktualizacje firmware',
    'about.canSendMailReport': 'Raporty e-mail',
    'about.canAutoUpdateModules': 'Automatyczne aktualizacje modułów',
    'about.on': 'dostępne',
    'about.off': 'niedostępne',
  });
})();
