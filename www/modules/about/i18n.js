(function () {
  'use strict';
  const add = window.Vexo.i18n.add;
  add('en', {
    'about.tab': 'About',
    'about.title': 'About Vexo',
    'about.intro': 'Vexo connects this browser with Modbus devices on serial lines and networks.',
    'about.version': 'Version',
    'about.features': 'Features',
    'about.languages': 'Interface languages',
    'about.canUpdate': 'Module updates (Updates tab)',
    'about.canSendMailReport': 'Support e-mail (Support tab)',
    'about.on': 'set up',
    'about.off': 'not set up',
  });
  add('es', {
    'about.tab': 'Acerca de',
    'about.title': 'Acerca de Vexo',
    'about.intro': 'Vexo conecta este navegador con dispositivos Modbus en líneas serie y redes.',
    'about.version': 'Versión',
    'about.features': 'Funciones',
    'about.languages': 'Idiomas de la interfaz',
    'about.canUpdate': 'Actualización de módulos (pestaña Actualizaciones)',
    'about.canSendMailReport': 'Correo al soporte (pestaña Soporte)',
    'about.on': 'configurado',
    'about.off': 'no configurado',
  });
  add('de', {
    'about.tab': 'Über',
    'about.title': 'Über Vexo',
    'about.intro': 'Vexo verbindet diesen Browser mit Modbus-Geräten an seriellen Leitungen und in Netzwerken.',
    'about.version': 'Version',
    'about.features': 'Funktionen',
    'about.languages': 'Sprachen der Oberfläche',
    'about.canUpdate': 'Modul-Updates (Reiter Updates)',
    'about.canSendMailReport': 'Support-E-Mail (Reiter Support)',
    'about.on': 'eingerichtet',
    'about.off': 'nicht eingerichtet',
  });
  add('pl', {
    'about.tab': 'O programie',
    'about.title': 'O programie Vexo',
    'about.intro': 'Vexo łączy tę przeglądarkę z urządzeniami Modbus na liniach szeregowych i w sieciach.',
    'about.version': 'Wersja',
    'about.features': 'Funkcje',
    'about.languages': 'Języki interfejsu',
    'about.canUpdate': 'Aktualizacje modułów (karta Aktualizacje)',
    'about.canSendMailReport': 'E-mail do pomocy (karta Pomoc)',
    'about.on': 'skonfigurowane',
    'about.off': 'nieskonfigurowane',
  });
})();
