// Texts of the portal. The control speaks Brazilian Portuguese, so the portal does too; a
// browser that prefers English (before any Portuguese in navigator.languages) gets English.

const texts = {
  pt: {
    "app.title": "kavrel · Portal de demonstração",
    "app.brand": "kavrel",
    "app.subtitle": "Portal de demonstração",

    "conn.connecting": "Conectando ao controle…",
    "conn.open": "Controle conectado",
    "conn.waiting": "Conexão perdida. Nova tentativa em {seconds} s…",
    "conn.retrying": "Conexão perdida. Tentando reconectar…",
    "conn.retry-now": "Tentar agora",
    "conn.unauthorized.title": "Sessão encerrada",
    "conn.unauthorized": "Esta página não tem mais acesso ao controle. Abra novamente o endereço que o kavrel-host mostrou ao iniciar.",
    "conn.taken.title": "O controle foi aberto em outra janela",
    "conn.taken.text": "Só uma página pode usar o controle de cada vez. Você pode continuar na outra janela ou trazer o controle de volta para esta.",
    "conn.taken.back": "Usar o controle aqui",
    "conn.restored": "Conexão restabelecida",
    "conn.no-script": "Não foi possível carregar o controle (kavrel.js): {error}",

    "signin.title": "Entrar na sua conta",
    "signin.lead": "Acesse as câmeras e gravadores da sua conta na nuvem.",
    "signin.server": "Endereço da nuvem",
    "signin.user": "Conta",
    "signin.password": "Senha",
    "signin.advanced": "Serviço P2P",
    "signin.p2p-address": "Endereço do serviço P2P",
    "signin.p2p-port": "Porta",
    "signin.submit": "Entrar",
    "signin.busy": "Entrando…",
    "signin.demo-hint": "Os dados da conta de demonstração já estão preenchidos.",
    "signin.show-password": "Mostrar senha",
    "signin.hide-password": "Ocultar senha",

    "header.user": "Conta {user}",
    "header.signout": "Sair",
    "header.about": "Sobre",
    "header.log": "Registro",
    "header.fullscreen": "Tela cheia",

    "tree.search": "Buscar câmera ou dispositivo",
    "tree.cameras": "Câmeras",
    "tree.devices": "Dispositivos",
    "tree.empty": "Nenhuma câmera nesta conta.",
    "tree.no-devices": "Nenhum dispositivo nesta conta.",
    "tree.no-match": "Nada encontrado para “{query}”.",
    "tree.loading": "Carregando a lista da nuvem…",
    "tree.online-count": "{online} de {total} online",
    "tree.camera-hint": "Clique duas vezes para ver ao vivo no painel selecionado, ou arraste para um painel",
    "tree.play-device": "Ver todas as câmeras nos próximos painéis livres",
    "live.stream": "Fluxo",
    "live.stream-auto": "Automático",
    "live.stream-main": "Principal",
    "live.stream-extra": "Extra",
    "live.refused": "O controle recusou {camera} no painel {pane}.",
    "live.no-idle-pane": "Não há painel livre para mais câmeras.",
    "tree.channels": "{count} canais",
    "tree.channel": "1 canal",
    "tree.ungrouped": "Sem grupo",

    "device.online": "Online",
    "device.verified": "Online",
    "device.connecting": "Conectando…",
    "device.offline": "Offline",
    "device.unknown": "Aguardando",
    "device.problem.password": "Senha recusada",
    "device.problem.tunnel": "Túnel P2P falhou",
    "device.problem.login": "Falha no login",
    "device.problem.description": "Sem descrição",
    "device.problem.tunnel-key": "Chave P2P recusada",

    "wall.waiting": "Aguardando a imagem do controle…",
    "wall.disconnected": "Sem conexão com o controle",
    "wall.title": "Mosaico ao vivo",
    "wall.layout": "Layout do mosaico",
    "wall.layout-n": "{count} telas",
    "wall.page": "Página",
    "wall.page-live": "Ao vivo",
    "wall.page-playback": "Reprodução",

    "status.ready": "Pronto.",
    "status.signed-out": "Entre com a sua conta para ver as câmeras.",
    "status.signing-in": "Entrando na conta {user}…",
    "status.signed-in": "Conta {user}: {devices} dispositivos e {cameras} câmeras carregados.",
    "status.restoring": "Restaurando a sessão da conta {user}…",
    "status.signed-out-done": "Você saiu da conta.",
    "status.cloud-timeout": "O serviço de nuvem não respondeu. Confira o endereço e tente de novo.",
    "status.summary": "{online} de {total} dispositivos online",

    "cloud.401": "Conta ou senha incorreta.",
    "cloud.403": "A nuvem recusou o acesso desta conta.",
    "cloud.404": "O endereço da nuvem não oferece este serviço (HTTP 404).",
    "cloud.http": "A nuvem recusou o pedido (HTTP {code}).",
    "cloud.unreadable": "A nuvem enviou uma resposta ilegível.",
    "cloud.connect": "Não foi possível contatar a nuvem em {server}.",
    "cloud.timeout": "A nuvem não respondeu a tempo.",
    "cloud.reply": "A resposta da nuvem chegou incompleta.",
    "cloud.other": "Falha ao falar com a nuvem (código {code}).",
    "cloud.save-failed": "Não foi possível salvar a lista de {list} na nuvem: {reason}",
    "cloud.list.devices": "dispositivos",
    "cloud.list.cameras": "câmeras",

    "event.online": "{device} está online.",
    "event.offline": "{device} está offline: o dispositivo não está conectado à internet.",
    "event.connecting": "Estabelecendo o túnel P2P para {device}…",
    "event.tunnel-failed": "Não foi possível estabelecer o túnel P2P para {device}.",
    "event.tunnel-cut": "A conexão com {device} foi interrompida; reconectando…",
    "event.tunnel-missing": "O túnel P2P de {device} não existe mais.",
    "event.tunnel-key": "O serviço P2P recusou a chave de {device}.",
    "event.added": "{device} conectado e verificado.",
    "event.add.description": "{device} respondeu, mas não enviou a descrição dos canais.",
    "event.add.tunnel": "{device} não pôde ser alcançado: o túnel P2P falhou.",
    "event.add.offline": "{device} está offline; não foi possível entrar no dispositivo.",
    "event.add.password-after-tunnel": "{device}: a senha do dispositivo foi recusada.",
    "event.add.password": "{device}: a senha do dispositivo foi recusada.",
    "event.add.login": "{device}: o login no dispositivo falhou.",
    "event.login.tunnel-or-password": "{device}: o túnel não se estabeleceu ou a senha foi recusada.",
    "event.login.tunnel": "{device}: o túnel P2P não se estabeleceu a tempo.",
    "event.login.code": "{device}: login recusado — {reason}.",
    "event.description": "{device}: {count} canais descritos.",
    "event.description-one": "{device}: 1 canal descrito.",
    "event.description-failed": "Um dispositivo não enviou a descrição dos canais.",
    "event.web-url": "Página do dispositivo disponível em {url}.",
    "event.web-port-busy": "A porta local {port} já está em uso; a página do dispositivo pode não abrir.",
    "event.live-started": "Vídeo ao vivo de {camera} no painel {pane}.",
    "event.live-failed": "Não foi possível iniciar o vídeo de {camera} (código {code}).",
    "event.live-login-failed": "{camera}: o login no dispositivo falhou antes do vídeo (código {code}).",
    "event.pane-closed": "Painel {pane} fechado.",
    "event.snapshot": "Foto do painel {pane} solicitada.",
    "event.call-failed": "O controle recusou {method}: {error}",
    "event.unreachable": "O controle não está conectado; tente de novo em instantes.",

    "login.1": "senha incorreta",
    "login.2": "usuário não existe",
    "login.3": "tempo de login esgotado",
    "login.4": "conta já conectada",
    "login.5": "conta bloqueada",
    "login.6": "conta na lista de bloqueio",
    "login.7": "sistema ocupado",
    "login.8": "falha na conexão secundária",
    "login.9": "falha na conexão principal",
    "login.10": "limite de usuários conectados atingido",
    "login.other": "código {code}",

    "log.title": "Registro de eventos",
    "log.filter": "Filtrar",
    "log.clear": "Limpar",
    "log.close": "Fechar",
    "log.empty": "Nenhum evento ainda.",
    "log.count": "{count} eventos",

    "site.ok": "OK",
    "site.cancel": "Cancelar",
    "site.yes": "Sim",
    "site.no": "Não",
    "site.save": "Salvar",
    "site.save-title": "Salvar arquivo",
    "site.file-name": "Nome do arquivo",
    "site.file-type": "Tipo",
    "site.fullscreen-prompt": "O controle pediu tela cheia.",
    "site.fullscreen-go": "Entrar em tela cheia",
    "site.download": "Arquivo pronto: {name}",
    "site.sound-blocked": "Clique na página para permitir os sons do controle.",
  },
  en: {
    "app.title": "kavrel · Demo portal",
    "app.brand": "kavrel",
    "app.subtitle": "Demo portal",

    "conn.connecting": "Connecting to the control…",
    "conn.open": "Control connected",
    "conn.waiting": "Connection lost. Retrying in {seconds} s…",
    "conn.retrying": "Connection lost. Reconnecting…",
    "conn.retry-now": "Retry now",
    "conn.unauthorized.title": "Session ended",
    "conn.unauthorized": "This page no longer has access to the control. Open the address kavrel-host printed at start again.",
    "conn.taken.title": "The control was opened in another window",
    "conn.taken.text": "Only one page can use the control at a time. You can go on in the other window or bring the control back here.",
    "conn.taken.back": "Use the control here",
    "conn.restored": "Connection restored",
    "conn.no-script": "Could not load the control (kavrel.js): {error}",

    "signin.title": "Sign in to your account",
    "signin.lead": "Reach the cameras and recorders of your cloud account.",
    "signin.server": "Cloud address",
    "signin.user": "Account",
    "signin.password": "Password",
    "signin.advanced": "P2P service",
    "signin.p2p-address": "P2P service address",
    "signin.p2p-port": "Port",
    "signin.submit": "Sign in",
    "signin.busy": "Signing in…",
    "signin.demo-hint": "The demo account's details are already filled in.",
    "signin.show-password": "Show password",
    "signin.hide-password": "Hide password",

    "header.user": "Account {user}",
    "header.signout": "Sign out",
    "header.about": "About",
    "header.log": "Log",
    "header.fullscreen": "Full screen",

    "tree.search": "Search camera or device",
    "tree.cameras": "Cameras",
    "tree.devices": "Devices",
    "tree.empty": "No cameras in this account.",
    "tree.no-devices": "No devices in this account.",
    "tree.no-match": "Nothing found for “{query}”.",
    "tree.loading": "Loading the list from the cloud…",
    "tree.online-count": "{online} of {total} online",
    "tree.camera-hint": "Double-click to watch live in the selected pane, or drag onto a pane",
    "tree.play-device": "Watch every camera in the next free panes",
    "live.stream": "Stream",
    "live.stream-auto": "Auto",
    "live.stream-main": "Main",
    "live.stream-extra": "Extra",
    "live.refused": "The control refused {camera} in pane {pane}.",
    "live.no-idle-pane": "No free pane for more cameras.",
    "tree.channels": "{count} channels",
    "tree.channel": "1 channel",
    "tree.ungrouped": "Ungrouped",

    "device.online": "Online",
    "device.verified": "Online",
    "device.connecting": "Connecting…",
    "device.offline": "Offline",
    "device.unknown": "Waiting",
    "device.problem.password": "Password refused",
    "device.problem.tunnel": "P2P tunnel failed",
    "device.problem.login": "Login failed",
    "device.problem.description": "No description",
    "device.problem.tunnel-key": "P2P key refused",

    "wall.waiting": "Waiting for the control's picture…",
    "wall.disconnected": "No connection to the control",
    "wall.title": "Live wall",
    "wall.layout": "Wall layout",
    "wall.layout-n": "{count} panes",
    "wall.page": "Page",
    "wall.page-live": "Live",
    "wall.page-playback": "Playback",

    "status.ready": "Ready.",
    "status.signed-out": "Sign in with your account to see the cameras.",
    "status.signing-in": "Signing in to {user}…",
    "status.signed-in": "Account {user}: {devices} devices and {cameras} cameras loaded.",
    "status.restoring": "Restoring the session of {user}…",
    "status.signed-out-done": "You signed out.",
    "status.cloud-timeout": "The cloud service did not answer. Check the address and try again.",
    "status.summary": "{online} of {total} devices online",

    "cloud.401": "Wrong account or password.",
    "cloud.403": "The cloud refused access for this account.",
    "cloud.404": "The cloud address does not offer this service (HTTP 404).",
    "cloud.http": "The cloud refused the request (HTTP {code}).",
    "cloud.unreadable": "The cloud sent an unreadable answer.",
    "cloud.connect": "Could not reach the cloud at {server}.",
    "cloud.timeout": "The cloud did not answer in time.",
    "cloud.reply": "The cloud's answer arrived incomplete.",
    "cloud.other": "Talking to the cloud failed (code {code}).",
    "cloud.save-failed": "Could not save the {list} list in the cloud: {reason}",
    "cloud.list.devices": "device",
    "cloud.list.cameras": "camera",

    "event.online": "{device} is online.",
    "event.offline": "{device} is offline: the device is not connected to the internet.",
    "event.connecting": "Setting up the P2P tunnel to {device}…",
    "event.tunnel-failed": "Could not set up the P2P tunnel to {device}.",
    "event.tunnel-cut": "The connection to {device} was interrupted; reconnecting…",
    "event.tunnel-missing": "The P2P tunnel of {device} no longer exists.",
    "event.tunnel-key": "The P2P service refused the key of {device}.",
    "event.added": "{device} connected and verified.",
    "event.add.description": "{device} answered but sent no description of its channels.",
    "event.add.tunnel": "{device} could not be reached: the P2P tunnel failed.",
    "event.add.offline": "{device} is offline; logging in to it was not possible.",
    "event.add.password-after-tunnel": "{device}: the device refused the password.",
    "event.add.password": "{device}: the device refused the password.",
    "event.add.login": "{device}: logging in to the device failed.",
    "event.login.tunnel-or-password": "{device}: the tunnel did not come up or the password was refused.",
    "event.login.tunnel": "{device}: the P2P tunnel did not come up in time.",
    "event.login.code": "{device}: login refused — {reason}.",
    "event.description": "{device}: {count} channels described.",
    "event.description-one": "{device}: 1 channel described.",
    "event.description-failed": "A device sent no description of its channels.",
    "event.web-url": "Device page available at {url}.",
    "event.web-port-busy": "Local port {port} is already in use; the device page may not open.",
    "event.live-started": "Live video of {camera} in pane {pane}.",
    "event.live-failed": "Could not start the video of {camera} (code {code}).",
    "event.live-login-failed": "{camera}: logging in to the device failed before the video (code {code}).",
    "event.pane-closed": "Pane {pane} closed.",
    "event.snapshot": "Snapshot of pane {pane} requested.",
    "event.call-failed": "The control refused {method}: {error}",
    "event.unreachable": "The control is not connected; try again in a moment.",

    "login.1": "wrong password",
    "login.2": "user does not exist",
    "login.3": "login timed out",
    "login.4": "account already logged in",
    "login.5": "account is locked",
    "login.6": "account is on the block list",
    "login.7": "system busy",
    "login.8": "secondary connection failed",
    "login.9": "main connection failed",
    "login.10": "too many users connected",
    "login.other": "code {code}",

    "log.title": "Event log",
    "log.filter": "Filter",
    "log.clear": "Clear",
    "log.close": "Close",
    "log.empty": "No events yet.",
    "log.count": "{count} events",

    "site.ok": "OK",
    "site.cancel": "Cancel",
    "site.yes": "Yes",
    "site.no": "No",
    "site.save": "Save",
    "site.save-title": "Save file",
    "site.file-name": "File name",
    "site.file-type": "Type",
    "site.fullscreen-prompt": "The control asked for full screen.",
    "site.fullscreen-go": "Go full screen",
    "site.download": "File ready: {name}",
    "site.sound-blocked": "Click the page to allow the control's sounds.",
  },
};

// The first of the browser's preferred languages that the portal has; Portuguese otherwise.
export function pick_language(preferred) {
  for (const tag of preferred || []) {
    const base = String(tag).toLowerCase().split("-")[0];
    if (base in texts) return base;
  }
  return "pt";
}

let language = "pt";

export function set_language(lang) {
  language = lang in texts ? lang : "pt";
}

export function current_language() {
  return language;
}

export function locale() {
  return language === "pt" ? "pt-BR" : "en";
}

// The text under `key` with {name} placeholders filled from `params`; the key itself when the
// text is missing, so a gap shows up on screen instead of an empty string.
export function t(key, params = {}) {
  const table = texts[language];
  const text = table[key] ?? texts.pt[key] ?? key;
  return text.replace(/\{(\w+)\}/g, (whole, name) => (name in params ? String(params[name]) : whole));
}

export function has_text(key) {
  return key in texts[language] || key in texts.pt;
}

// Fills every element carrying data-i18n (text), data-i18n-placeholder, data-i18n-title or
// data-i18n-aria-label below `root`.
export function translate_page(root) {
  for (const el of root.querySelectorAll("[data-i18n]")) el.textContent = t(el.dataset.i18n);
  for (const el of root.querySelectorAll("[data-i18n-placeholder]")) el.placeholder = t(el.dataset.i18nPlaceholder);
  for (const el of root.querySelectorAll("[data-i18n-title]")) el.title = t(el.dataset.i18nTitle);
  for (const el of root.querySelectorAll("[data-i18n-aria-label]")) {
    el.setAttribute("aria-label", t(el.dataset.i18nAriaLabel));
  }
}

export const _texts_for_tests = texts;
