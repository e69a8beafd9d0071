// The access token made at every start: whoever holds it may watch (and,
// when allowed, drive) the desktop, so it is long, random and compared in
// constant time.
import { randomBytes, timingSafeEqual } from 'node:crypto';

export function makeAccessToken() {
  return randomBytes(24).toString('base64url');
}

export function tokenMatches(expected, offered) {
  if (typeof offered !== 'string') return false;
  const want = Buffer.from(expected);
  const got = Buffer.from(offered);
  return want.length === got.length && timingSafeEqual(want, got);
}
