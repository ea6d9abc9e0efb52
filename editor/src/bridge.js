// The page's side of the bridge to the application. The application injects
// window.external.JsCall before the page's scripts run; a plain browser has no such method.

export function hostAvailable() {
  const external = window.external;
  return !!external && typeof external.JsCall === 'function';
}

// Returns false when there is no application to ask.
export function callHost(command) {
  if (!hostAvailable()) return false;
  try {
    window.external.JsCall(command);
    return true;
  } catch (e) {
    console.warn('JsCall failed', command, e);
    return false;
  }
}

export function publishJson(text) {
  window.g_ZetJsonResult = text;
}

export function publishPng(dataUrl) {
  window.g_ZetPngResult = dataUrl;
}
