// The browser tests run headless in Debian's chromium, one brindle-web per test.
export default {
  testDir: '.',
  testMatch: '*.test.mjs',
  timeout: 60000,
  workers: 1,
  retries: 0,
  reporter: 'line',
  use: {
    headless: true,
    viewport: {width: 1100, height: 1250},
    launchOptions: {executablePath: process.env.BRINDLE_CHROMIUM || '/usr/bin/chromium'},
  },
};
