"""The engine's number rules restated with Python's decimal module, as a
reference for the expressions m_differential.py generates: 18 significant
digits cut towards zero, <MAXNUMBER> from 1E47, 0 below 1E-43, exact
modulo, integer powers by squaring with each product cut (a negative
power the reciprocal of the positive one kept to 19 digits), $JUSTIFY and
$FNUMBER rounding halves away from zero. Fractional powers are computed in
binary by the engine: the model's value for them, cut from a decimal one,
may differ in the last digit (Approx).

exact() evaluates with 60 digits instead of 18, as the reference for how
far a result is from the exact value."""
import contextlib
import re
from decimal import Decimal, Context, ROUND_DOWN, ROUND_HALF_UP, ROUND_FLOOR

CUT = Context(prec=18, rounding=ROUND_DOWN, Emax=10**6, Emin=-10**6)
EXACT = Context(prec=500, Emax=10**6, Emin=-10**6)
READ = Context(prec=18, rounding=ROUND_DOWN, Emax=10**6, Emin=-10**6)

class MErr(Exception):
    """An M error, by name."""


class Approx(Exception):
    """A result the model does not compute exactly."""


@contextlib.contextmanager
def precision(digits):
    """Results cut to digits significant digits instead of 18."""
    global CUT
    saved = CUT
    CUT = Context(prec=digits, rounding=ROUND_DOWN, Emax=10**6, Emin=-10**6)
    try:
        yield
    finally:
        CUT = saved


def rng(d):
    d = CUT.plus(d)
    if d == 0: return Decimal(0)
    if d.adjusted() >= 47: raise MErr('MAXNUMBER')
    if d.adjusted() < -43: return Decimal(0)
    return d

NUM = re.compile(r'([+-]*)(\d*)(?:\.(\d*))?')
def num(s):
    m = NUM.match(s)
    sign, i, f = m.group(1), m.group(2), m.group(3) or ''
    if not i and not f: return Decimal(0)
    rest = s[m.end():]
    e = 0
    em = re.match(r'E([+-]?)(\d+)', rest)
    if em:
        e = min(int(em.group(2)), 10**6) * (-1 if em.group(1) == '-' else 1)
    d = Decimal((i or '0') + '.' + (f or '0'))
    d = EXACT.scaleb(d, e)
    if sign.count('-') % 2: d = d.copy_negate()
    # A number read is cut to 18 digits whatever the precision of results.
    return rng(READ.plus(d))

def canon(d):
    if d == 0: return '0'
    s = '{:f}'.format(d)
    if '.' in s: s = s.rstrip('0').rstrip('.')
    neg = s.startswith('-')
    if neg: s = s[1:]
    if s.startswith('0.'): s = s[1:]
    return ('-' if neg else '') + s

def mul(a, b): return rng(EXACT.multiply(a, b))

def ipow(a, n):
    r, base = Decimal(1), a
    while True:
        if n & 1: r = mul(r, base)
        n >>= 1
        if n == 0: return r
        base = mul(base, base)

def power(a, b):
    if b == 0: return Decimal(1)
    if a == 0:
        if b < 0: raise MErr('DIVIDE')
        return Decimal(0)
    if b != b.to_integral_value():
        if a < 0: raise MErr('ILLEGAL VALUE')
        wide = Context(prec=CUT.prec + 20, Emax=10**6, Emin=-10**6)
        return rng(wide.exp(wide.multiply(b, wide.ln(a))))
    n = int(b)
    if abs(n) >= 10**18: raise Approx()
    if n > 0: return ipow(a, n)
    # The reciprocal of the positive power, kept to a digit more; out of
    # 1E-60..1E60 the reciprocal is out of range either way.
    guard = Context(prec=CUT.prec + 1, rounding=ROUND_DOWN, Emax=10**6, Emin=-10**6)
    def product(x, y):
        p = guard.multiply(x, y)
        if p.adjusted() > 60: return None
        if p.adjusted() < -60: raise MErr('MAXNUMBER')
        return p
    r, base, m = Decimal(1), a.copy_abs(), -n
    while True:
        if m & 1: r = product(r, base)
        m >>= 1
        if m == 0 or r is None: break
        base = product(base, base)
        if base is None: r = None; break
    if r is None: return Decimal(0)
    q = rng(CUT.divide(1, r))
    return q.copy_negate() if a < 0 and n % 2 else q

def arith(op, l, r):
    a, b = num(l), num(r)
    if op == '+': return rng(EXACT.add(a, b))
    if op == '-': return rng(EXACT.subtract(a, b))
    if op == '*': return mul(a, b)
    if op in '/\\#' and b == 0: raise MErr('DIVIDE')
    if op == '/': return rng(CUT.divide(a, b))
    if op == '\\': return rng(CUT.divide(a, b)).to_integral_value(rounding=ROUND_DOWN)
    if op == '#':
        q = EXACT.divide(a, b).to_integral_value(rounding=ROUND_FLOOR)
        return rng(EXACT.subtract(a, EXACT.multiply(b, q)))
    if op == '**': return power(a, b)

def fixed(v, d):
    x = num(v).quantize(Decimal(1).scaleb(-d), rounding=ROUND_HALF_UP, context=EXACT)
    s = '{:f}'.format(x.copy_abs())  # abs() would round to the default context's 28 digits
    if s.startswith('.'): s = '0' + s
    return ('-' if x < 0 and x != 0 else '') + s

def fnumber(v, codes, d):
    text = fixed(v, d) if d is not None else canon(num(v))
    neg = text.startswith('-')
    if neg: text = text[1:]
    pos = not neg and num(text) != 0
    if ',' in codes:
        w, _, f = text.partition('.')
        w = '{:,}'.format(int(w)) if w else ''
        text = w + ('.' + f if f else '')
    if 'P' in codes:
        if '+' in codes or '-' in codes or 'T' in codes: raise MErr('FUNCTION')
        return '(' + text + ')' if neg else ' ' + text + ' '
    sign = '-' if neg and '-' not in codes else '+' if pos and '+' in codes else ''
    # T puts the sign after the number, a blank where there is none.
    return text + (sign or ' ') if 'T' in codes else sign + text

def quoted(v):
    return '"' + v.replace('"', '""') + '"'

class P:
    """Evaluates left to right; trace lists each operation as an M
    expression on literal operands, with the result the rules give."""
    def __init__(s, t): s.t, s.i, s.trace, s.approx = t, 0, [], False
    def peek(s): return s.t[s.i] if s.i < len(s.t) else ''
    def step(s, mexpr, compute):
        try:
            v = compute()
        except MErr as x:
            s.trace.append((mexpr, 'ERR:<%s>' % x.args[0]))
            raise
        s.trace.append((mexpr, v))
        return v
    def binary(s, c, v, r):
        if c == '**' and num(r) != num(r).to_integral_value(): s.approx = True
        if c == '<': return '1' if num(v) < num(r) else '0'
        if c == '>': return '1' if num(v) > num(r) else '0'
        if c == '=': return '1' if v == r else '0'
        return canon(arith(c, v, r))
    def expr(s):
        v = s.atom()
        while s.peek() and s.peek() in '+-*/\\#<>=':
            c = s.peek(); s.i += 1
            if c == '*' and s.peek() == '*': s.i += 1; c = '**'
            r = s.atom()
            v = s.step(quoted(v) + c + quoted(r), lambda: s.binary(c, v, r))
        return v
    def atom(s):
        c = s.peek()
        if c == '-':
            s.i += 1; v = s.atom()
            return s.step('-' + quoted(v), lambda: canon(num(v).copy_negate()))
        if c == '+':
            s.i += 1; v = s.atom()
            return s.step('+' + quoted(v), lambda: canon(num(v)))
        if c == '(':
            s.i += 1; v = s.expr(); assert s.peek() == ')'; s.i += 1; return v
        if c == '"':
            j = s.t.index('"', s.i + 1); v = s.t[s.i + 1:j]; s.i = j + 1; return v
        if s.t.startswith('$J(', s.i) or s.t.startswith('$FN(', s.i):
            fn = 'J' if s.t[s.i + 1] == 'J' else 'FN'
            s.i = s.t.index('(', s.i) + 1
            args = [s.expr()]
            while s.peek() == ',':
                s.i += 1; args.append(s.expr())
            assert s.peek() == ')'; s.i += 1
            mexpr = '$' + fn + '(' + ','.join(quoted(a) for a in args) + ')'
            if fn == 'J':
                def justify():
                    t = fixed(args[0], int(num(args[2]))) if len(args) > 2 else args[0]
                    return t.rjust(int(num(args[1])))
                return s.step(mexpr, justify)
            return s.step(mexpr, lambda: fnumber(args[0], args[1], int(num(args[2])) if len(args) > 2 else None))
        m = re.compile(r'\d*\.?\d*(E[+-]?\d+)?').match(s.t, s.i)
        s.i = m.end()
        return s.step(m.group(0), lambda: canon(num(m.group(0))))

def evaluate(e, trace=None):
    """The value of e by the engine's rules, or ERR: and the error; trace, a
    list, receives the operations (see P). Approx when a fractional power
    made the value one the engine may have in another last digit."""
    p = P(e)
    try:
        v = p.expr()
    except MErr as x:
        v = 'ERR:<%s>' % x.args[0]
    finally:
        if trace is not None: trace.extend(p.trace)
    if p.approx: raise Approx()
    return v


def exact(e):
    """The value of e with 60 significant digits kept (the range of 1E-43 to
    1E47 still applies), or ERR: and the error."""
    with precision(60):
        p = P(e)
        try:
            return p.expr()
        except MErr as x:
            return 'ERR:<%s>' % x.args[0]
