// The page's script library: names for the numbered functions of
// window.external.korvoApiCall. Each function passes its arguments as one array.
(function (global) {
  "use strict";
  const numbers = {
    korvoTrace: 0,
    korvoSetProfileString: 10, korvoSetProfileInt: 11,
    korvoGetProfileString: 12, korvoGetProfileInt: 13,
    korvoAddConnector: 20, korvoValidConnector: 21, korvoConnect: 22,
    korvoSendValue: 23, korvoReceiveValue: 24, korvoGetValue: 25,
    korvoMessageBox: 100, korvoClose: 101,
    korvoClearMenu: 102, korvoAddMenuItem: 103, korvoCheckMenuItem: 104, korvoShowMenu: 105,
    korvoGetExeDir: 150, korvoListDir: 151, korvoReadFile: 152, korvoReadFileLine: 153,
    korvoWriteFile: 154, korvoShellExecute: 170,
  };
  const available = typeof global.external === "object" && global.external !== null &&
                    typeof global.external.korvoApiCall === "function";
  for (const [name, number] of Object.entries(numbers)) {
    global[name] = function (...args) {
      return available ? global.external.korvoApiCall(number, args) : undefined;
    };
  }
  global.korvoAvailable = available;
})(window);
